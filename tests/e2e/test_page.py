"""The remote's page in headless Chromium (Debian's, through Selenium),
against the real program serving on loopback and recording to a .vcd; and
the API rows the page relies on: the script check, the QR code, the address
lines. Frames are read back from the recording once the server has ended."""

import json
import os
import queue
import re
import shutil
import signal
import subprocess
import threading
import time
import urllib.error
import urllib.request

import pytest

from conftest import ROOT, TARVIK, UNIT_US, run, vcd_edges, vcd_frames

WAIT = 60  # seconds for anything to happen; only reached when something is wrong
SCREENSHOTS = os.environ.get("TARVIK_SCREENSHOTS", "")


class Served:
    """tarvik -serve on a .vcd, its first line read; stopped with Ctrl-C."""

    def __init__(self, vcd, listen="127.0.0.1:0", stdout=subprocess.PIPE):
        self.proc = subprocess.Popen(["timeout", "-k", "10", "600", TARVIK, "-serve", listen,
                                      "-port", vcd], stdin=subprocess.DEVNULL, stdout=stdout,
                                     stderr=subprocess.PIPE)
        self.out = b""

    def first_line(self, read):
        lines = queue.Queue()
        threading.Thread(target=lambda: lines.put(read()), daemon=True).start()
        try:
            first = lines.get(timeout=WAIT).decode(errors="replace")
        except queue.Empty:
            first = ""
        match = re.match(r"tarvik: remote control at http://([^/]+)/(\?key=(\w+))?\r?\n", first)
        if not match:
            self.stop()
            raise AssertionError("no address in %r" % first)
        self.port = int(match.group(1).rsplit(":", 1)[1])
        self.key = match.group(3) or ""
        self.url = "http://127.0.0.1:%d/" % self.port
        return first

    def call(self, path, body=None, raw=None):
        """(status, content type, body) of a request with the key."""
        data = raw if raw is not None else None if body is None else json.dumps(body).encode()
        url = self.url + path.lstrip("/") + ("?key=" + self.key if self.key else "")
        request = urllib.request.Request(url, data, {"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=WAIT) as answer:
                return answer.status, answer.headers["Content-Type"], answer.read().decode()
        except urllib.error.HTTPError as error:
            return error.code, error.headers["Content-Type"], error.read().decode()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
        try:
            self.proc.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        # Through the reader that read the first line: it may hold more.
        if self.proc.stdout and not self.proc.stdout.closed:
            self.out += self.proc.stdout.read()
            self.proc.stdout.close()
            self.proc.stderr.close()
        return self.proc.returncode


@pytest.fixture
def server(tmp_path):
    served = Served(str(tmp_path / "page.vcd"))
    served.first_line(served.proc.stdout.readline)
    yield served
    served.stop()


def frame_starts(text):
    """Each frame of a recording as (start in µs, code)."""
    changes = vcd_edges(text)
    starts = [at for i, (at, on) in enumerate(changes)
              if on and i + 1 < len(changes) and changes[i + 1][0] - at > 5 * UNIT_US]
    return list(zip(starts, [code for code, _ in vcd_frames(text)]))


@pytest.fixture
def browser(tmp_path):
    if not shutil.which("chromedriver"):
        pytest.skip("no chromedriver")
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    downloads = tmp_path / "downloads"
    downloads.mkdir()
    options = webdriver.ChromeOptions()
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1280,900", "--user-data-dir=" + str(tmp_path / "profile")):
        options.add_argument(flag)
    options.add_experimental_option("prefs", {"download.default_directory": str(downloads),
                                              "download.prompt_for_download": False})
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Page.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": str(downloads)})
    driver.downloads = downloads
    yield driver
    driver.quit()


def until(driver, condition):
    from selenium.webdriver.support.ui import WebDriverWait
    return WebDriverWait(driver, WAIT).until(lambda d: condition())


def element(driver, css):
    from selenium.webdriver.common.by import By
    return until(driver, lambda: driver.find_element(By.CSS_SELECTOR, css))


def box(driver):
    return driver.execute_script("return document.getElementById('script').value")


def log(driver):
    """The names of the frames sent, oldest first, from the page's log."""
    items = driver.execute_script(
        "return [...document.querySelectorAll('#log li')].map((li) => li.textContent)")
    return [item.split()[2] for item in reversed(items)]


FIRST_PAD = {1: "walk_forward", 2: "D4", 3: "forward"}


def first_pad_button(driver):
    return driver.execute_script(
        "const b = document.querySelector('#pads button'); return b && b.dataset.name")


def requested_hosts(driver):
    hosts = set()
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            url = message["params"]["request"]["url"]
            if re.match(r"(https?|wss?|ftp):", url):
                hosts.add(re.sub(r"^(\w+://[^/]*).*", r"\1", url))
    return hosts


def test_record_play_save_open_keep(server, browser, tmp_path):
    browser.get(server.url)
    pad = lambda name: element(browser, '#pads button[data-name="%s"]' % name)
    pad("walk_forward")
    element(browser, "#record").click()
    pad("walk_forward").click()
    time.sleep(0.3)
    pad("turn_left").click()
    time.sleep(0.6)
    pad("walk_backward").click()
    until(browser, lambda: box(browser).count("\n") == 3)
    element(browser, "#record").click()
    recorded = box(browser)
    lines = [line.split() for line in recorded.splitlines()]
    assert [name for _, name in lines] == ["walk_forward", "turn_left", "walk_backward"]
    # At least the pauses less a frame: a busy machine only lengthens them.
    assert lines[0][0] == "0" and int(lines[1][0]) >= 250 and int(lines[2][0]) >= 550
    element(browser, "#play").click()
    until(browser, lambda: element(browser, "#line").text == "script ended")
    # The check of the box has come back: three frames, no problem.
    until(browser, lambda: element(browser, "#check").text.startswith("3 frames"))

    element(browser, "#save").click()
    saved = browser.downloads / "script.txt"
    until(browser, lambda: saved.exists() and saved.read_text() == recorded)
    browser.execute_script("document.getElementById('script').value = ''")
    element(browser, "#open").send_keys(str(saved))
    until(browser, lambda: box(browser) == recorded)

    element(browser, "#keep-name").send_keys("trio\n")
    element(browser, '#kept [data-name="trio"]')
    browser.refresh()
    element(browser, '#kept [data-name="trio"] button').click()
    until(browser, lambda: element(browser, "#line").text == "script ended")
    assert requested_hosts(browser) == {server.url.rstrip("/")}

    assert server.stop() == 130
    frames = frame_starts((tmp_path / "page.vcd").read_text())
    assert [code for _, code in frames] == [0x86, 0x88, 0x87] * 3
    spacing = lambda at: [frames[at + 1][0] - frames[at][0], frames[at + 2][0] - frames[at + 1][0]]
    pressed, played, kept = spacing(0), spacing(3), spacing(6)
    print("pressed %s µs, played %s µs, kept %s µs" % (pressed, played, kept))
    assert all(abs(a - b) <= 20000 for a, b in zip(pressed, played)), (pressed, played)


def test_keys_compass_and_phone_layout(server, browser, tmp_path):
    from selenium.webdriver.common.keys import Keys

    browser.get(server.url)
    element(browser, '#pads button[data-name="walk_forward"]')
    body = element(browser, "body")
    keys = [Keys.ARROW_UP, Keys.ARROW_LEFT, Keys.SHIFT + Keys.ARROW_DOWN, Keys.SPACE]
    for n, key in enumerate(keys, 1):
        body.send_keys(key)
        until(browser, lambda: len(log(browser)) == n)
    # A focused pad button: Space is still Stop, once.
    element(browser, '#pads button[data-name="turn_right"]').send_keys(Keys.SPACE)
    until(browser, lambda: len(log(browser)) == 5)
    assert log(browser) == ["walk_forward", "turn_left", "backward_step", "stop", "stop"]

    element(browser, "input[name=model][value='2']").click()
    up_right = element(browser, '#pads button[data-direction="5"]')
    assert up_right.text.split("\n")[-1] == "D5 walking"
    up_right.click()
    until(browser, lambda: len(log(browser)) == 6)
    element(browser, "body").send_keys(Keys.PAGE_UP)
    until(browser, lambda: len(log(browser)) == 7)
    # Escape while a script plays: the script stops, then the robot's stop.
    element(browser, "#script").send_keys("0 D0_walking\n30000 stop\n10 nosuch")
    until(browser, lambda: element(browser, "#problems").text.startswith("line 3: "))
    element(browser, "#play").click()
    until(browser, lambda: element(browser, "#line").text == "line 2 of 3")
    element(browser, "#record").click()  # refused while a script plays
    assert element(browser, "#record").get_attribute("aria-pressed") == "false"
    assert element(browser, "#status").text == "a script is playing: stop it first"
    element(browser, "body").send_keys(Keys.ESCAPE)
    until(browser, lambda: len(log(browser)) == 9)
    assert element(browser, "#line").text == "script stopped"
    assert log(browser)[5:] == ["D5_walking", "D5_walking", "D0_walking", "stop"]
    if SCREENSHOTS:
        browser.save_screenshot(os.path.join(SCREENSHOTS, "remote-wide.png"))

    # A phone: Stop in sight after scrolling to the end, nothing wider than
    # the screen, touch targets of 44 px.
    for width, height, model in ((390, 844, 2), (360, 740, 2), (360, 740, 1), (360, 740, 3)):
        browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": True})
        browser.execute_script("document.querySelector('input[name=model][value=\"%d\"]').click()" % model)
        until(browser, lambda: first_pad_button(browser) == FIRST_PAD[model])
        inner = browser.execute_script("return [innerWidth, innerHeight]")
        browser.execute_script("scrollTo(0, document.body.scrollHeight)")
        stop = browser.execute_script("""
            const r = document.getElementById('stop-all').getBoundingClientRect();
            const hit = document.elementFromPoint(r.x + r.width / 2, r.y + r.height / 2);
            return [r.top >= 0 && r.bottom <= innerHeight, hit && hit.closest('#stop-all') !== null,
                    scrollY > 0]""")
        assert stop == [True, True, True], (model, inner, stop)
        assert browser.execute_script(
            "return document.documentElement.scrollWidth <= innerWidth"), (model, inner)
        small = browser.execute_script("""
            return [...document.querySelectorAll('button, summary, select, input:not(.hide):not([type=radio]), label:has(input)')]
              .filter((e) => e.offsetParent !== null)
              .map((e) => [e.id || e.textContent.trim().slice(0, 20), e.getBoundingClientRect()])
              .filter(([, r]) => r.width < 44 || r.height < 44).map(([n]) => n)""")
        assert small == [], (model, inner)
    if SCREENSHOTS:
        browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": 390, "height": 844, "deviceScaleFactor": 1, "mobile": True})
        browser.execute_script("document.querySelector('input[name=model][value=\"2\"]').click()")
        until(browser, lambda: first_pad_button(browser) == "D4")
        browser.execute_script("scrollTo(0, 0)")
        browser.save_screenshot(os.path.join(SCREENSHOTS, "remote-narrow.png"))
    assert requested_hosts(browser) == {server.url.rstrip("/")}

    assert server.stop() == 130
    codes = [code for _, code in frame_starts((tmp_path / "page.vcd").read_text())]
    assert codes == [0x86, 0x88, 0xA7, 0x8E, 0x8E, 0x305, 0x305, 0x300, 0x3AA]


def test_page_is_one_small_file():
    with open(os.path.join(ROOT, "remote", "page.html"), encoding="utf-8") as page:
        text = page.read()
    assert len(text.encode()) < 60 * 1024
    assert not re.search(r"""(src|href)=["']?(https?:)?//""", text)


def check_of_program(tmp_path, text, model_flag):
    """frames and seconds as -script F -check says them."""
    script = tmp_path / "checked.txt"
    script.write_text(text)
    r = run([TARVIK, "-script", str(script), "-check", "-nowakeup", "-port",
             str(tmp_path / "never.vcd")] + model_flag)
    match = re.search(r"^(\d+) frames?;.* ([\d.]+) s in all$", r.out, re.M)
    return int(match.group(1)), float(match.group(2))


@pytest.mark.parametrize("body, status, frames, problems", [
    ({"text": "0 walk_forward\n500 turn_left\n\n# a comment\n200\n", "model": 1}, 200, 3, []),
    ({"text": "0 D5_walking\n100 stop\n", "model": 2}, 200, 2, []),
    ({"text": "0 walk_forward\n100 nosuch\n", "model": 1}, 200, 1, [(2, "nosuch")]),
    ({"text": "0 walk_forward\n100 nosuch\n", "model": 3}, 200, 0, [(1, "walk_forward"), (2, "nosuch")]),
    ({"text": "0 stop\nwalk_forward\n"}, 200, 2, [(2, "")]),
    ({"text": "0 stop " + "x" * 60 + "\n"}, 200, 1, [(1, "")]),
    ({"text": 5}, 400, None, None),
    ({"text": "", "extra": 1}, 400, None, None),
    ({"text": "", "model": 4}, 400, None, None),
    (b"not json", 400, None, None),
])
def test_check(server, tmp_path, body, status, frames, problems):
    raw = body if isinstance(body, bytes) else json.dumps(body).encode()
    got_status, kind, answer = server.call("/api/check", raw=raw)
    answer = json.loads(answer)
    assert (got_status, kind.split(";")[0]) == (status, "application/json")
    if status != 200:
        assert answer["error"]
        return
    assert answer["frames"] == frames
    # Each expected problem: its line, and a name the message must give.
    assert len(answer["problems"]) >= len(problems)
    for line, name in problems:
        assert any(p["line"] == line and name in p["message"] for p in answer["problems"]), answer
    if not problems:
        flag = {1: [], 2: ["-v2"], 3: ["-pet"]}[body.get("model", 1)]
        assert (answer["frames"], answer["seconds"]) == check_of_program(tmp_path, body["text"], flag)


def test_qr_svg_on_loopback_says_why(server):
    status, kind, answer = server.call("/api/qr.svg")
    assert (status, kind.split(";")[0]) == (404, "application/json")
    assert "0.0.0.0" in json.loads(answer)["error"]


def test_address_lines_and_qr(tmp_path):
    """Beyond loopback: a line per address, then the QR code when stdout is
    a terminal and only then; the page's SVG of the same address."""
    master, slave = os.openpty()
    on_tty = Served(str(tmp_path / "tty.vcd"), "0.0.0.0:0", stdout=slave)
    os.close(slave)  # the far end is the server's alone: its exit ends the reading
    out = []
    arrived = threading.Condition()

    def pump():
        while True:
            try:
                data = os.read(master, 4096)
            except OSError:
                data = b""
            with arrived:
                out.append(data)
                arrived.notify_all()
            if not data:
                return

    reader = threading.Thread(target=pump, daemon=True)
    reader.start()

    def read_line():
        with arrived:
            arrived.wait_for(lambda: b"\n" in b"".join(out) or b"" in out, WAIT)
            text = b"".join(out)
        return text[:text.find(b"\n") + 1]

    try:
        on_tty.first_line(read_line)
        with arrived:  # the address lines come after the first
            arrived.wait_for(lambda: b"network" in b"".join(out) or b"" in out, WAIT)
        status, kind, svg = on_tty.call("/api/qr.svg")
    finally:
        on_tty.stop()
        reader.join(WAIT)
        os.close(master)
    out = b"".join(out)
    tty_text = out.decode(errors="replace").replace("\r\n", "\n")
    addresses = re.findall(r"^tarvik: on this network: (http://\S+/\?key=%s)$" % on_tty.key,
                           tty_text, re.M)
    if not addresses:
        pytest.skip("this machine has no address beyond loopback")
    assert re.search("[\u2580\u2584\u2588]", tty_text)
    assert (status, kind.split(";")[0]) == (200, "image/svg+xml")
    assert svg.startswith("<svg") and "<title>%s</title>" % addresses[0] in svg

    piped = Served(str(tmp_path / "pipe.vcd"), "0.0.0.0:0")
    first = piped.first_line(piped.proc.stdout.readline)
    piped.stop()
    text = (first.encode() + piped.out).decode()
    lines = text.splitlines()
    assert len(lines) == 1 + len(addresses), text
    assert all(re.fullmatch(r"tarvik: on this network: http://[^/]+:%d/\?key=%s" %
                            (piped.port, piped.key), line) for line in lines[1:]), text
    assert not re.search("[\u2580\u2584\u2588]", text)
