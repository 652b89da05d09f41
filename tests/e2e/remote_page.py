#!/usr/bin/python3
"""Opens the remote page in headless chromium, as a phone would, and taps keys.

usage: remote_page.py URL [--tap TEXT]... [--type KEY]... [--screenshot PNG]
Each --tap clicks the element whose text is TEXT; each --type sends one keyboard key
(a character, or ENTER / ARROW_UP / F1...) to the page. After each, the page's status
line is printed on a line of its own once it has an answer. Exit status 0, 1 when the
page did not answer within its bound.
"""
import argparse
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

ANSWER_BOUND = 20  # seconds; an answer takes milliseconds on an idle machine


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("--tap", action="append", default=[])
    parser.add_argument("--type", action="append", default=[])
    parser.add_argument("--screenshot")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="qm-chromium-") as profile:
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--window-size=390,844", "--user-data-dir=" + profile):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        try:
            driver.set_page_load_timeout(ANSWER_BOUND)
            driver.get(args.url)
            status = driver.find_element(By.ID, "status")

            def answered(previous):
                def check(_):
                    text = status.text
                    return text if text != previous and not text.endswith(": sending") else False
                return check

            actions = [("tap", t) for t in args.tap] + [("type", k) for k in args.type]
            for kind, what in actions:
                before = status.text
                if kind == "tap":
                    driver.find_element(By.XPATH, "//*[normalize-space(text())='%s']" % what).click()
                else:
                    key = getattr(Keys, what) if len(what) > 1 else what
                    driver.find_element(By.TAG_NAME, "body").send_keys(key)
                try:
                    print(WebDriverWait(driver, ANSWER_BOUND).until(answered(before)), flush=True)
                except Exception:
                    print("no answer to %s %s; status: %s" % (kind, what, status.text), flush=True)
                    return 1
            if args.screenshot:
                driver.save_screenshot(args.screenshot)
        finally:
            driver.quit()
    return 0


if __name__ == "__main__":
    sys.exit(main())
