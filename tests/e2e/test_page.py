"""The remote's page in headless Chromium (through Selenium) against the real program recording
frames; the routes the page relies on: the script check, the QR code, the addresses."""

import contextlib
import json
import os
import re
import shutil
import socket
import time

import pytest

from conftest import ROOT, TARVIK, WAIT, Served, run

SCREENSHOTS = os.environ.get("TARVIK_SCREENSHOTS", "")


@pytest.fixture
def server(tmp_path):
    with Served(tmp_path) as served:
        yield served


@pytest.fixture
def browser(tmp_path):
    if not shutil.which("chromedriver"):
        pytest.skip("no chromedriver")
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1280,900", "--user-data-dir=" + str(tmp_path / "profile")):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(tmp_path)})
    yield driver
    driver.quit()


def until(driver, condition):
    from selenium.webdriver.support.ui import WebDriverWait
    return WebDriverWait(driver, WAIT).until(lambda d: condition())


def element(driver, css):
    from selenium.webdriver.common.by import By
    return until(driver, lambda: driver.find_element(By.CSS_SELECTOR, css))


def only_its_server(driver, url):
    """The page asked nothing of any host but its server."""
    messages = [json.loads(e["message"])["message"] for e in driver.get_log("performance")]
    urls = [m["params"]["request"]["url"] for m in messages if m["method"] == "Network.requestWillBeSent"]
    assert {re.sub(r"^(\w+://[^/]*).*", r"\1", u) for u in urls if re.match(r"(https?|wss?|ftp):", u)} == {url[:-1]}


def test_record_play_save_open_keep(server, browser, tmp_path):
    browser.get(server.url)
    box = lambda: browser.execute_script("return document.getElementById('script').value")
    pad = lambda name: element(browser, '#pads button[data-name="%s"]' % name)
    pad("walk_forward")
    element(browser, "#record").click()
    for name, pause in (("walk_forward", 0.3), ("turn_left", 0.6), ("walk_backward", 0)):
        pad(name).click()
        time.sleep(pause)
    until(browser, lambda: box().count("\n") == 3)
    element(browser, "#record").click()
    recorded = box()
    delays = re.fullmatch(r"0 walk_forward\n(\d+) turn_left\n(\d+) walk_backward\n", recorded).groups()
    assert int(delays[0]) >= 250 and int(delays[1]) >= 550  # the pauses less a frame, or more if busy
    element(browser, "#play").click()
    until(browser, lambda: element(browser, "#line").text == "script ended")
    until(browser, lambda: element(browser, "#check").text.startswith("3 frames"))  # the box's check

    element(browser, "#save").click()
    saved = tmp_path / "script.txt"
    until(browser, lambda: saved.exists() and saved.read_text() == recorded)
    browser.execute_script("document.getElementById('script').value = ''")
    element(browser, "#open").send_keys(str(saved))
    until(browser, lambda: box() == recorded)
    element(browser, "#keep-name").send_keys("trio\n")
    element(browser, '#kept [data-name="trio"]')
    browser.refresh()
    element(browser, '#kept [data-name="trio"] button').click()
    until(browser, lambda: element(browser, "#line").text == "script ended")
    only_its_server(browser, server.url)

    server.wait_for(lambda e: len(server.frames()) == 9)  # the frames as sent: a busy machine may stretch a pulse
    assert (server.stop()[0], [f["code"] for f in server.frames()]) == (130, [0x86, 0x88, 0x87] * 3)
    # Played and kept as pressed (pauses of 300 and 600 ms), to a bound a busy machine keeps.
    at = [f["time"] for f in server.frames()]
    assert all(abs(at[i + k] - at[i + k - 1] - (at[k] - at[k - 1])) <= 0.15 for i in (3, 6) for k in (1, 2)), at


def test_keys_compass_and_phone_layout(server, browser):
    from selenium.webdriver.common.keys import Keys

    browser.get(server.url)
    log = lambda: [item.split()[2] for item in reversed(browser.execute_script(
        "return [...document.querySelectorAll('#log li')].map((li) => li.textContent)"))]
    sent = lambda n: until(browser, lambda: len(log()) == n)
    element(browser, '#pads button[data-name="walk_forward"]')
    for n, (at, key) in enumerate([("body", Keys.ARROW_UP), ("body", Keys.ARROW_LEFT), ("body", Keys.SHIFT + Keys.ARROW_DOWN),
                                   ("body", Keys.SPACE), ('#pads button[data-name="turn_right"]', Keys.SPACE)], 1):  # Stop, once
        element(browser, at).send_keys(key)
        sent(n)
    assert log() == ["walk_forward", "turn_left", "backward_step", "stop", "stop"]
    element(browser, "input[name=model][value='2']").click()
    up_right = element(browser, '#pads button[data-direction="5"]')
    assert up_right.text.split("\n")[-1] == "D5 walking"
    up_right.click()
    sent(6)
    element(browser, "body").send_keys(Keys.PAGE_UP)
    sent(7)
    # Escape while a script plays: the script stops, then the robot's stop.
    element(browser, "#script").send_keys("0 D0_walking\n30000 stop\n10 nosuch")
    until(browser, lambda: element(browser, "#problems").text.startswith("line 3: "))
    element(browser, "#play").click()
    until(browser, lambda: element(browser, "#line").text == "line 2 of 3")
    element(browser, "#record").click()  # refused while a script plays
    assert element(browser, "#record").get_attribute("aria-pressed") == "false"
    assert element(browser, "#status").text == "a script is playing: stop it first"
    element(browser, "body").send_keys(Keys.ESCAPE)
    sent(9)
    assert element(browser, "#line").text == "script stopped"
    assert log()[5:] == ["D5_walking", "D5_walking", "D0_walking", "stop"]
    shot = lambda name: SCREENSHOTS and browser.save_screenshot(os.path.join(SCREENSHOTS, name))
    shot("remote-wide.png")

    # A phone: Stop in sight after scrolling to the end, nothing wider than
    # the screen, touch targets of 44 px.
    browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                            {"width": 360, "height": 740, "deviceScaleFactor": 1, "mobile": True})
    for model, first in ((1, "walk_forward"), (3, "forward"), (2, "D4")):
        browser.execute_script("document.querySelector('input[name=model][value=\"%d\"]').click()" % model)
        until(browser, lambda: browser.execute_script(
            "const b = document.querySelector('#pads button'); return b && b.dataset.name") == first)
        browser.execute_script("scrollTo(0, document.body.scrollHeight)")
        assert browser.execute_script("""
            const r = document.getElementById('stop-all').getBoundingClientRect();
            const hit = document.elementFromPoint(r.x + r.width / 2, r.y + r.height / 2);
            return [r.top >= 0 && r.bottom <= innerHeight, hit && hit.closest('#stop-all') !== null, scrollY > 0,
              document.documentElement.scrollWidth <= innerWidth, [...document.querySelectorAll(
                'button, summary, select, input:not(.hide):not([type=radio]), label:has(input)')]
              .filter((e) => e.offsetParent !== null).map((e) => [e.id || e.textContent.trim().slice(0, 20),
                e.getBoundingClientRect()]).filter(([, r]) => r.width < 44 || r.height < 44).map(([n]) => n)]
            """) == [True, True, True, True, []], model
    browser.execute_script("scrollTo(0, 0)")
    shot("remote-narrow.png")
    only_its_server(browser, server.url)

    server.wait_for(lambda e: len(server.frames()) == 9)
    assert (server.stop()[0], [f["code"] for f in server.frames()]) == (
        130, [0x86, 0x88, 0xA7, 0x8E, 0x8E, 0x305, 0x305, 0x300, 0x3AA])


def test_page_check_and_qr_on_loopback(server, tmp_path):
    """One small page, nothing loaded from elsewhere; the check of its script box says what
    -script F -check says; the QR code on loopback says why there is none."""
    page = open(os.path.join(ROOT, "remote", "page.html"), "rb").read()
    assert len(page) < 60 * 1024 and not re.search(rb"""(src|href)=["']?(https?:)?//""", page)
    text = "0 D5_walking\n\n# a comment\n30000 stop\n200\n"  # seconds to the millisecond
    (tmp_path / "s.txt").write_text(text)
    r = run([TARVIK, "-script", str(tmp_path / "s.txt"), "-check", "-v2", "-nowakeup", "-port", str(tmp_path / "no.vcd")])
    frames, seconds = re.search(r"^(\d+) frames;.* ([\d.]+) s in all$", r.out, re.M).groups()
    line, message = re.fullmatch(r"tarvik: \S+ line (\d+): (.*)\n", r.err).groups()
    assert server.call("POST", "/api/check", {"text": text, "model": 2}) == (200, {
        "frames": int(frames), "seconds": float(seconds), "problems": [{"line": int(line), "message": message}]})
    assert server.call("POST", "/api/check", {"text": "0 walk_forward\n" + "100 nosuch\n" * 1001}) == (200, {
        "frames": 1, "seconds": 100.129,  # the first thousand problems only
        "problems": [{"line": n, "message": "unrecognized command: nosuch"} for n in range(2, 1002)]})
    assert server.call("POST", "/api/check", {"text": 5}) == (400, {"error": "expected a string field: text"})
    status, answer = server.call("GET", "/api/qr.svg")
    assert status == 404 and "0.0.0.0" in answer["error"]


def test_address_lines_and_qr(tmp_path):
    """Beyond loopback a line per address, then the QR code if stdout is a terminal, as libqrencode's
    own program draws it; the page's SVG; a line for the one address served."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        with contextlib.suppress(OSError):  # no route, or no address beyond loopback
            probe.connect(("203.0.113.1", 9))  # sends nothing: finds the route's own address
        routed = probe.getsockname()[0]
    if routed == "0.0.0.0" or not shutil.which("qrencode"):
        pytest.skip("no address beyond loopback, or no qrencode")
    master, slave = os.openpty()
    with open(master, "rb", buffering=0) as tty_out:
        with Served(tmp_path, listen=False, at="0.0.0.0:0", stdout=slave, output=tty_out) as tty:
            os.close(slave)  # the server's alone: its end ends the reading
            status, svg = tty.call("GET", "/api/qr.svg?key=" + tty.key, text=True)
    addresses = re.findall(r"^tarvik: on this network: (http://([\d.]+):\d+/\?key=%s)$" % tty.key, tty.out, re.M)
    assert routed in [a for _, a in addresses], tty.out
    qrencode = lambda kind, margin: run(["qrencode", "-8", "-lM", "-m%d" % margin, "-t" + kind, "-o-", addresses[0][0]]).out
    assert re.findall(r"^\033\[38;5;16;48;5;231m(.*)\033\[0m$", tty.out, re.M) == qrencode("UTF8i", 2).splitlines()
    assert (status, tty.type, svg[:4]) == (200, "image/svg+xml", "<svg") and "<title>%s</title>" % addresses[0][0] in svg
    theirs = qrencode("SVG", 4)
    assert {(int(x) + i, int(y)) for x, y, n in re.findall(r"M(\d+) (\d+)h(\d+)v1h-\3z", svg) for i in range(int(n))} == \
        {(int(x) + 4, int(y) + 4) for x, y in re.findall(r'<rect x="(\d+)" y="(\d+)" width="1" height="1" fill="#000000"', theirs)}
    assert re.findall(r'viewBox="[^"]+"', svg) == re.findall(r'viewBox="[^"]+"', theirs)
    with Served(tmp_path, listen=False, at=routed + ":0") as piped:
        piped.stop()
    assert piped.out == "tarvik: on this network: http://%s:%d/?key=%s\n" % (routed, piped.port, piped.key)
