#!/usr/bin/python3
"""Time from a button press on the remote control's page to the frame's first
line change. The real program serves on loopback with a pseudo-terminal as
its port and the ioctl recorder preloaded (CLOCK_MONOTONIC, as Python's
time.monotonic_ns); headless Chromium presses the button through Selenium.
Each press is timed from just before Selenium's click to the first break
ioctl after it, and also, for comparison, from a plain POST /api/send.

    /usr/bin/python3 bench/remote_latency.py --build build [--presses 50]
"""

import argparse
import os
import pty
import re
import signal
import statistics
import subprocess
import tempfile
import time
import urllib.request


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--presses", type=int, default=50)
    args = parser.parse_args()

    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    work = tempfile.mkdtemp(prefix="tarvik-latency-")
    log = os.path.join(work, "ioctl.log")
    master, slave = pty.openpty()
    env = dict(os.environ, LD_PRELOAD=os.path.abspath(os.path.join(args.build, "libtarvik_ioctl_recorder.so")),
               TARVIK_IOCTL_LOG=log)
    server = subprocess.Popen(["timeout", "600", os.path.join(args.build, "tarvik"), "-serve", "127.0.0.1:0",
                               "-nowakeup", "-port", os.ttyname(slave)],
                              env=env, stdout=subprocess.PIPE, text=True)
    url = re.search(r"http://\S+", server.stdout.readline()).group(0)

    options = webdriver.ChromeOptions()
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    pressed, posted, idle_clicks = [], [], []
    try:
        driver.get(url)
        wait = WebDriverWait(driver, 30)
        # The pad comes once the page's event stream is open: every frame is logged from then.
        wait.until(lambda d: d.find_element(By.CSS_SELECTOR, "#pads button"))
        button = driver.find_element(By.CSS_SELECTOR, 'button[data-name="stop"]')
        log_items = lambda: len(driver.find_elements(By.CSS_SELECTOR, "#log li"))
        # The page notes each click's moment itself (wall clock, ms).
        driver.execute_script("window.clicks = []; document.addEventListener('click', () => "
                              "clicks.push(performance.timeOrigin + performance.now()), true);")
        for i in range(args.presses):
            pressed.append(time.monotonic_ns())
            button.click()
            wait.until(lambda d: log_items() == i + 1)  # the frame is out and logged
            time.sleep(0.02)
        in_page = driver.execute_script("return clicks;")
        wall_minus_monotonic = time.time_ns() - time.monotonic_ns()
        in_page = [int(ms * 1e6) - wall_minus_monotonic for ms in in_page]
        # What Selenium itself takes to click: a click on the page's title.
        title = driver.find_element(By.TAG_NAME, "h1")
        for i in range(args.presses):
            start = time.monotonic_ns()
            title.click()
            idle_clicks.append((time.monotonic_ns() - start) / 1e6)
        for i in range(args.presses):
            request = urllib.request.Request(url + "api/send", data=b'{"command":"stop"}')
            posted.append(time.monotonic_ns())
            urllib.request.urlopen(request, timeout=30).read()
            time.sleep(0.02)
    finally:
        driver.quit()
        server.send_signal(signal.SIGINT)
        server.wait(timeout=30)
        os.close(master)
        os.close(slave)

    with open(log) as f:
        firsts = [int(line.split()[1]) for line in f if line.startswith("S")]
    os.remove(log)
    os.rmdir(work)
    # Every frame begins with a break on; a frame has 9 of them (8-bit).
    starts = firsts[::9]
    for name, times in (("button press, from the click in the page", in_page),
                        ("button press, from Selenium's click call", pressed),
                        ("POST /api/send (urllib)", posted)):
        delays = [(min(s for s in starts if s > t) - t) / 1e6 for t in times]
        print("%s: %d presses, median %.1f ms, max %.1f ms" %
              (name, len(delays), statistics.median(delays), max(delays)))
    print("a Selenium click on an element without a handler: median %.1f ms, max %.1f ms" %
          (statistics.median(idle_clicks), max(idle_clicks)))


if __name__ == "__main__":
    main()
