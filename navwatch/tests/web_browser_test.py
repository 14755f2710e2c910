#!/usr/bin/env python3
"""The web page in a real browser: Debian's headless Chromium, driven by
Selenium through chromedriver.

skerrin decodes a synthesized recording (with a type D message) while
navwatch keeps the messages and serves the page (-H).  The test waits for
the messages to appear live, opens one, acknowledges the alarm, changes a
selection and sees the settings file change.  Then filefeed serves messages
that hold markup, which must show as text.  Screenshots go to --shots.

Exits 77 (skipped) with the reason when Chromium, chromedriver or Selenium
is missing.
"""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request
import json

SKIP = 77
DEADLINE = 60


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIP)


try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
    from selenium.common.exceptions import NoAlertPresentException
except ImportError:
    skip("python3-selenium is not installed")

CHROMIUM = "/usr/bin/chromium"
DRIVER = "/usr/bin/chromedriver"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, check, deadline=DEADLINE):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        v = check()
        if v:
            return v
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)


def api(port, path):
    with urllib.request.urlopen("http://127.0.0.1:%d%s" % (port, path), timeout=10) as r:
        return json.loads(r.read().decode())


def answers(port):
    try:
        api(port, "/api/status")
        return True
    except OSError:
        return False


class Run:
    """Programs started by the test, ended when it ends."""

    def __init__(self, work):
        self.work = work
        self.procs = []

    def start(self, name, args):
        log = open(os.path.join(self.work, name + ".log"), "w")
        p = subprocess.Popen(args, cwd=self.work, stdout=log, stderr=subprocess.STDOUT)
        self.procs.append(p)
        return p

    def stop(self, p):
        if p.poll() is None:
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(30)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

    def close(self):
        for p in self.procs:
            self.stop(p)


def browser(work):
    opts = webdriver.ChromeOptions()
    opts.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=1000,900",
                 "--user-data-dir=" + os.path.join(work, "chromium-profile")):
        opts.add_argument(flag)
    log = os.path.join(work, "chromedriver.log")
    try:
        service = Service(DRIVER, log_output=log)
    except TypeError:  # Selenium before 4.11
        service = Service(DRIVER, log_path=log)
    return webdriver.Chrome(service=service, options=opts)


def visible(drv, css):
    els = drv.find_elements(By.CSS_SELECTOR, css)
    return els[0] if els and els[0].is_displayed() else None


def no_alert_dialog(drv):
    try:
        drv.switch_to.alert
        return False
    except NoAlertPresentException:
        return True


def decode_live(a, run, drv, shots):
    """skerrin on a synthesized recording, navwatch -H, the page in use."""
    work = run.work
    msgs = os.path.join(work, "msgs.txt")
    with open(msgs, "w") as f:
        f.write("ZCZC EA01\nNAVAREA I 41/26\nDOVER STRAIT. WRECK MARKED BY BUOY 51-02N 001-31E.\nNNNN\n"
                "ZCZC ED02\nMAYDAY RELAY. FISHING VESSEL SINKING 50-10N 001-20W.\n"
                "ALL SHIPS KEEP SHARP LOOKOUT AND REPORT TO MRCC.\nNNNN\n"
                "ZCZC EE03\nWEATHER FORECAST THAMES DOVER WIGHT\nSW 4 OR 5 OCCASIONALLY 6. MODERATE.\nNNNN\n")
    rec = os.path.join(work, "rec.raw")
    subprocess.run([a.navsynth, "-s", "3", "-g", "4", "-k", "1", "-m", msgs, "-o", rec], check=True,
                   stdout=subprocess.DEVNULL)
    conf = os.path.join(work, "tovane.conf")
    sk_port, web_port = free_port(), free_port()
    nw = run.start("navwatch", [a.navwatch, "-f", "-S", "127.0.0.1:%d" % sk_port, "-D",
                                os.path.join(work, "navtex.db"), "-c", conf,
                                "-H", "127.0.0.1:%d" % web_port])
    wait_for("navwatch's page", lambda: answers(web_port) or nw.poll() is not None)
    assert nw.poll() is None, "navwatch ended"
    url = "http://127.0.0.1:%d/" % web_port
    drv.get(url)
    wait_for("the empty list", lambda: "0 messages" in drv.find_element(By.ID, "count").text)
    # The messages arrive while the page is open.
    run.start("skerrin", [a.skerrin, "-f", "-i", rec, "-p", str(sk_port), "-s", "300"])
    wait_for("the first message listed live",
             lambda: len(drv.find_elements(By.CSS_SELECTOR, "#messages li")) >= 1, 120)
    # The receiver's status while skerrin serves (the rest is still on its way).
    drv.find_element(By.ID, "nav-status").click()
    wait_for("the channels", lambda: len(drv.find_elements(By.CSS_SELECTOR, "#s-channels tr")) == 3)
    drv.save_screenshot(os.path.join(shots, "web-status.png"))
    drv.find_element(By.ID, "nav-list").click()
    wait_for("three messages listed live",
             lambda: len(drv.find_elements(By.CSS_SELECTOR, "#messages li")) >= 3, 120)
    banner = wait_for("the alarm banner", lambda: visible(drv, "#alarm"))
    assert "ED02" in banner.text, banner.text
    wait_for("three unread", lambda: drv.find_element(By.ID, "unread").text == "3")
    drv.save_screenshot(os.path.join(shots, "web-list-alarm.png"))
    drv.set_window_size(412, 900)
    drv.save_screenshot(os.path.join(shots, "web-list-phone.png"))
    drv.set_window_size(1000, 900)

    # Open the type D message.
    drv.find_element(By.CSS_SELECTOR, "#messages li.alarm a").click()
    wait_for("the message view", lambda: "MAYDAY RELAY" in drv.find_element(By.ID, "m-text").text)
    assert drv.find_element(By.ID, "m-title").text == "ED02 on 518 kHz"
    drv.save_screenshot(os.path.join(shots, "web-message.png"))
    wait_for("the message marked read", lambda: drv.find_element(By.ID, "unread").text == "2")

    # Acknowledge: the banner goes, on this page and in the store.
    drv.find_element(By.ID, "ack").click()
    wait_for("the banner gone", lambda: not visible(drv, "#alarm"))
    assert api(web_port, "/api/status")["counts"]["alarms"] == 0

    # Switch station C off on 490 kHz and type E off on 518 kHz; A, B, D
    # and L cannot be switched off.
    drv.get(url + "#/selections")
    wait_for("the selections", lambda: visible(drv, 'fieldset[data-freq="518"] .save'))
    fixed = drv.find_element(By.CSS_SELECTOR, 'fieldset[data-freq="518"] .types input[value="D"]')
    assert fixed.is_selected() and not fixed.is_enabled()
    for freq, kind, letter in (("490", "stations", "C"), ("518", "types", "E")):
        box = drv.find_element(By.CSS_SELECTOR, 'fieldset[data-freq="%s"] .%s input[value="%s"]'
                               % (freq, kind, letter))
        box.click()
        drv.find_element(By.CSS_SELECTOR, 'fieldset[data-freq="%s"] .save' % freq).click()
        wait_for("saved " + freq, lambda: drv.find_element(
            By.CSS_SELECTOR, 'fieldset[data-freq="%s"] .saved' % freq).text == "saved")
    drv.save_screenshot(os.path.join(shots, "web-selections.png"))
    text = open(conf).read()
    stations = text[text.index("[coast-stations]"):text.index("[message-filter]")]
    types = text[text.index("[message-filter]"):]
    assert "filter-490=C;" in stations, text
    assert "filter-518=E;" in types, text
    assert no_alert_dialog(drv)


def markup_as_text(a, run, drv, shots):
    """Messages holding markup, served by filefeed, show literally."""
    work = run.work
    hostile = ['<script>alert("x")</script>', '"><img src=x onerror=alert(1)>',
               "<b>bold</b> &amp; </pre>"]
    with open(os.path.join(work, "navtexMsg.txt"), "w") as f:
        f.write("518\nZCZC SA09\n" + "\n".join(hostile) + "\nWIND N*RTH 5*\nNNNN\n")
    ff_port, web_port = free_port(), free_port()
    run.start("filefeed", [a.filefeed, "-p", str(ff_port), "-i", "0"])
    nw = run.start("navwatch-filefeed", [a.navwatch, "-f", "-S", "127.0.0.1:%d" % ff_port, "-D",
                                         os.path.join(work, "markup.db"), "-c",
                                         os.path.join(work, "markup.conf"),
                                         "-H", "127.0.0.1:%d" % web_port])
    wait_for("navwatch's page", lambda: answers(web_port) or nw.poll() is not None)
    msgs = wait_for("the message from filefeed", lambda: api(web_port, "/api/messages")["messages"])
    drv.get("http://127.0.0.1:%d/#/message/%d" % (web_port, msgs[0]["id"]))
    pre = wait_for("the message text", lambda: visible(drv, "#m-text"))
    wait_for("the text", lambda: "SA09" in drv.find_element(By.ID, "m-title").text)
    shown = pre.get_attribute("textContent")
    for h in hostile:
        assert h in shown, (h, shown)
    assert not drv.find_elements(By.CSS_SELECTOR, "main img, main script, main b"), "markup was made"
    # Characters received in error are marked, the text around them kept.
    assert len(drv.find_elements(By.CSS_SELECTOR, "#m-text .err")) == 2
    assert "WIND N*RTH 5*" in shown
    drv.save_screenshot(os.path.join(shots, "web-markup-message.png"))
    drv.get("http://127.0.0.1:%d/" % web_port)
    wait_for("the list", lambda: drv.find_elements(By.CSS_SELECTOR, "#messages li"))
    assert hostile[0] in drv.find_element(By.CSS_SELECTOR, "#messages .preview").get_attribute("textContent")
    assert not drv.find_elements(By.CSS_SELECTOR, "main img, main script, main b"), "markup was made"
    assert no_alert_dialog(drv)
    drv.save_screenshot(os.path.join(shots, "web-markup.png"))


def main():
    p = argparse.ArgumentParser()
    for prog in ("navwatch", "skerrin", "navsynth", "filefeed"):
        p.add_argument("--" + prog, required=True)
    p.add_argument("--shots", required=True)
    a = p.parse_args()
    for path, pkg in ((CHROMIUM, "chromium"), (DRIVER, "chromium-driver")):
        if not os.access(path, os.X_OK):
            skip("%s is missing (Debian package %s)" % (path, pkg))
    os.makedirs(a.shots, exist_ok=True)
    work = tempfile.mkdtemp(prefix="navwatch-browser-")
    run = Run(work)
    drv = None
    ok = False
    try:
        drv = browser(work)
        drv.set_page_load_timeout(DEADLINE)
        decode_live(a, run, drv, a.shots)
        markup_as_text(a, run, drv, a.shots)
        ok = True
        print("browser test passed; screenshots in " + a.shots)
    finally:
        if drv:
            drv.quit()
        run.close()
        if ok:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print("browser test failed; logs in " + work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
