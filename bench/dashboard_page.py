#!/usr/bin/env python3
"""How long the line's page takes to draw in headless Chromium (driven by Selenium): from
the navigation's start to its figures, charts and newest runs drawn, as the page marks it.

    dashboard_page.py URL
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
try:
    import headless
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("page: python3-selenium is not installed: not measured")
    sys.exit(0)


def main():
    try:
        driver = headless.chromium(1600, 1200)
    except Exception as error:
        print("page: no Chromium to drive (%s): not measured" % str(error).splitlines()[0])
        return 0
    try:
        drawn = "return performance.getEntriesByName('morlane-drawn').map(e => e.startTime)"
        times = []
        for _ in range(5):
            driver.get(sys.argv[1])
            marks = WebDriverWait(driver, 60, poll_frequency=0.05).until(
                lambda d: d.execute_script(drawn) or None)
            times.append(marks[0])
        times.sort()
        print("page drawn in %.0f ms (median of 5, slowest %.0f ms); under 1.5 s: %s"
              % (times[2], times[-1], "yes" if times[-1] < 1500 else "NO"))
    finally:
        driver.quit()
    return 0


if __name__ == "__main__":
    sys.exit(main())
