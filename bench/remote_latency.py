#!/usr/bin/python3
"""Time from a button press on the remote control's page to the frame's first
line change. The real program serves on loopback with a pseudo-terminal as
its port and the ioctl recorder preloaded (CLOCK_MONOTONIC, as Python's
time.monotonic_ns); headless Chromium presses the button through Selenium.
Each press is timed from just before Selenium's click to the first break
ioctl after it, and also, for comparison, from a plain POST /api/send.
Then the same POST with 0, 100 and 250 event streams open (pages left open,
each read as it comes), and the time GET / takes meanwhile, as a table.

    /usr/bin/python3 bench/remote_latency.py --build build [--presses 50] [--no-browser]
"""

import argparse
import http.client
import os
import pty
import re
import selectors
import signal
import socket
import statistics
import subprocess
import tempfile
import threading
import time
import urllib.request


def browser_presses(url, presses):
    """Presses through the page in headless Chromium, and plain POSTs."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

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
        for i in range(presses):
            pressed.append(time.monotonic_ns())
            button.click()
            wait.until(lambda d: log_items() == i + 1)  # the frame is out and logged
            time.sleep(0.02)
        in_page = driver.execute_script("return clicks;")
        wall_minus_monotonic = time.time_ns() - time.monotonic_ns()
        in_page = [int(ms * 1e6) - wall_minus_monotonic for ms in in_page]
        # What Selenium itself takes to click: a click on the page's title.
        title = driver.find_element(By.TAG_NAME, "h1")
        for i in range(presses):
            start = time.monotonic_ns()
            title.click()
            idle_clicks.append((time.monotonic_ns() - start) / 1e6)
        for i in range(presses):
            request = urllib.request.Request(url + "api/send", data=b'{"command":"stop"}',
                                             headers={"Content-Type": "application/json"})
            posted.append(time.monotonic_ns())
            urllib.request.urlopen(request, timeout=30).read()
            time.sleep(0.02)
    finally:
        driver.quit()
    return pressed, in_page, idle_clicks, posted


def crowd_presses(port, count, presses):
    """POST /api/send presses with count event streams open, each read as
    events come; the moments of the presses and the times GET / took."""
    host = "127.0.0.1:%d" % port
    streams, reader = [], selectors.DefaultSelector()
    for _ in range(count):
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(("GET /api/events HTTP/1.1\r\nHost: %s\r\n\r\n" % host).encode())
        s.setblocking(False)
        reader.register(s, selectors.EVENT_READ)
        streams.append(s)
    done = threading.Event()

    def drain():
        while not done.is_set():
            for key, _ in reader.select(0.1):
                try:
                    key.fileobj.recv(65536)
                except BlockingIOError:
                    pass

    thread = threading.Thread(target=drain)
    thread.start()
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    moments, pages = [], []
    try:
        for _ in range(presses):
            moments.append(time.monotonic_ns())
            conn.request("POST", "/api/send", '{"command":"stop"}', {"Content-Type": "application/json"})
            assert conn.getresponse().read() == b'{"code":142,"bits":8}'
            start = time.monotonic_ns()
            conn.request("GET", "/")
            conn.getresponse().read()
            pages.append((time.monotonic_ns() - start) / 1e6)
            time.sleep(0.02)
    finally:
        conn.close()
        done.set()
        thread.join()
        for s in streams:
            s.close()
    return moments, pages


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--presses", type=int, default=50)
    parser.add_argument("--no-browser", action="store_true", help="only the table, without Chromium")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="tarvik-latency-")
    log = os.path.join(work, "ioctl.log")
    master, slave = pty.openpty()
    env = dict(os.environ, LD_PRELOAD=os.path.abspath(os.path.join(args.build, "libtarvik_ioctl_recorder.so")),
               TARVIK_IOCTL_LOG=log)
    server = subprocess.Popen(["timeout", "600", os.path.join(args.build, "tarvik"), "-serve", "127.0.0.1:0",
                               "-nowakeup", "-port", os.ttyname(slave)],
                              env=env, stdout=subprocess.PIPE, text=True)
    url = re.search(r"http://\S+", server.stdout.readline()).group(0)

    pressed, posted, idle_clicks, in_page, crowds = [], [], [], [], []
    try:
        if not args.no_browser:
            pressed, in_page, idle_clicks, posted = browser_presses(url, args.presses)
        port = int(re.search(r":(\d+)/", url).group(1))
        for streams in (0, 100, 250):
            crowds.append((streams,) + crowd_presses(port, streams, args.presses))
    finally:
        server.send_signal(signal.SIGINT)
        server.wait(timeout=30)
        os.close(master)
        os.close(slave)

    with open(log) as f:
        starts = [int(line.split()[1]) for line in f if line.startswith("S")]
    os.remove(log)
    os.rmdir(work)
    # The first break on after a press is its frame's start.
    delays = lambda times: [(min(s for s in starts if s > t) - t) / 1e6 for t in times]
    for name, times in (("button press, from the click in the page", in_page),
                        ("button press, from Selenium's click call", pressed),
                        ("POST /api/send (urllib)", posted)):
        if times:
            d = delays(times)
            print("%s: %d presses, median %.1f ms, max %.1f ms" %
                  (name, len(d), statistics.median(d), max(d)))
    if idle_clicks:
        print("a Selenium click on an element without a handler: median %.1f ms, max %.1f ms" %
              (statistics.median(idle_clicks), max(idle_clicks)))
    print()
    print("| event streams open | press to first break on, median | max | GET /, median | max |")
    print("|---:|---:|---:|---:|---:|")
    for streams, moments, pages in crowds:
        d = delays(moments)
        print("| %d | %.2f ms | %.2f ms | %.2f ms | %.2f ms |" %
              (streams, statistics.median(d), max(d), statistics.median(pages), max(pages)))

if __name__ == "__main__":
    main()
