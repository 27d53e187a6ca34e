#!/usr/bin/env python3
"""The line's page in a real browser (Chromium, headless, driven by Selenium).

The test that starts it has kept two runs (SN-1 passed, SN-2 failed at the erase) and
serves them at URL. The page must draw its figures and charts without a script error and
open a run's record and log; then NEW_RUN... keeps a third run (SN-3), which the page must
show without being reloaded.

    page_test.py URL NEW_RUN...        exit 77 when no browser or driver is installed
"""
import json
import subprocess
import sys
import time

try:
    import headless
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("page_test: python3-selenium is not installed: skipped")
    sys.exit(77)

if not headless.installed():
    print("page_test: chromium and chromium-driver are not installed: skipped")
    sys.exit(77)

url = sys.argv[1]
new_run = sys.argv[2:]


def wait(driver, what, seconds, why):
    try:
        return WebDriverWait(driver, seconds, poll_frequency=0.1).until(lambda d: what(d))
    except Exception:
        raise AssertionError(why + "; the page says: " +
                             driver.find_element(By.ID, "state").text)


def main():
    driver = None
    try:
        driver = headless.chromium(1400, 1000, browser_log=True)
        driver.set_page_load_timeout(30)
        driver.get(url)

        rows = lambda d: d.find_elements(By.CSS_SELECTOR, "#runs tbody tr")
        wait(driver, lambda d: len(rows(d)) == 2, 15, "the two runs are not listed")
        assert driver.execute_script("return typeof Chart") == "function", "Chart.js not loaded"
        wait(driver, lambda d: d.execute_script(
            "return Chart.getChart('perHour') !== undefined && Chart.getChart('pareto') !== undefined"),
            10, "the charts are not drawn")
        assert driver.find_element(By.ID, "runsCount").text == "2"
        assert driver.find_element(By.ID, "fpy").text == "50.0 %", driver.find_element(By.ID, "fpy").text
        failures = driver.find_element(By.ID, "failures").text
        assert "erase" in failures, failures
        # The passed run burned its images: its station's burn time is shown beside its run's.
        times = driver.find_element(By.ID, "times").text
        assert "burn" in times.splitlines()[0] and " / " in times, times

        # A run's record and log open from its row.
        rows(driver)[0].click()
        wait(driver, lambda d: d.find_element(By.ID, "record").is_displayed(), 10,
             "the run does not open")
        assert '"unit_id": "SN-2"' in driver.find_element(By.ID, "recordJson").text
        assert driver.find_element(By.ID, "recordLog").text.strip() != ""
        driver.find_element(By.ID, "close").click()

        # A run kept now appears without a reload.
        driver.execute_script("window.notReloaded = true")
        done = subprocess.run(new_run, capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, done.stderr
        kept = time.time()
        wait(driver, lambda d: "SN-3" in d.find_element(By.CSS_SELECTOR, "#runs tbody tr").text,
             10, "the new run is not shown")
        print("new run shown %.1f s after it was kept" % (time.time() - kept))
        assert driver.execute_script("return window.notReloaded === true"), "the page was reloaded"
        wait(driver, lambda d: d.find_element(By.ID, "runsCount").text == "3", 10,
             "the figures do not follow the new run")

        errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
        assert not errors, json.dumps(errors, indent=1)
        print("page: drawn, no script error, a new run shown without reload")
        return 0
    finally:
        if driver:
            driver.quit()


if __name__ == "__main__":
    sys.exit(main())
