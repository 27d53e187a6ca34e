"""Debian's Chromium, headless, driven by Selenium: as the page's test, its benchmark and the
dashboard's picture start it. Importing this module fails with ImportError where
python3-selenium is not installed.
"""
import os
import shutil

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
DRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"


def installed():
    """Whether the browser and its driver are there."""
    return os.path.exists(CHROMIUM) and os.path.exists(DRIVER)


def chromium(width, height, *flags, browser_log=False):
    """A browser of its own with a window of width x height; browser_log keeps its console."""
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                 "--window-size=%d,%d" % (width, height)) + flags:
        options.add_argument(flag)
    if browser_log:
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(DRIVER), options=options)
