#!/usr/bin/env python3
"""The report page in a real browser, as a user opens it from disk.

report_demo_page writes pages (index.html, a WAV per transmission) into a
scratch directory; headless Chromium, driven by Selenium, opens each from
file:// and checks that it loads without a console error, shows a box and a
row per transmission, plays what is clicked, filters, sorts, and steps with
the keys. A screenshot of each page is kept in --screenshot-dir. The times the
large page takes are printed, not asserted.

Exits 0 when every check passes, 1 on the first failure, and 77 (skipped)
when Chromium, its driver or Selenium is not installed.
"""

import argparse
import json
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

SKIPPED = 77
LARGE_PAGE_COUNT = 5000
WAIT_S = 30

# Without the networking switches Chromium waits on services it cannot reach
# on a closed network; the autoplay switch lets a script start the audio as
# the click that asked for it would.
CHROMIUM_FLAGS = [
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--autoplay-policy=no-user-gesture-required",
    "--window-size=1400,860",
]


def skip(reason):
    print(f"SKIPPED: {reason}")
    sys.exit(SKIPPED)


try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    skip(f"Selenium is not installed for {sys.executable} (Debian: python3-selenium)")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def find_browser():
    chromium = next((shutil.which(n) for n in ("chromium", "chromium-browser") if shutil.which(n)), None)
    if chromium is None:
        skip("Chromium is not installed (Debian: chromium)")
    driver = shutil.which("chromedriver") or next(
        (p for p in ("/usr/bin/chromedriver", "/usr/lib/chromium/chromedriver") if pathlib.Path(p).exists()), None)
    if driver is None:
        skip("chromedriver is not installed (Debian: chromium-driver)")
    return chromium, driver


def start_browser(chromium, driver_path, profile_dir):
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for flag in CHROMIUM_FLAGS + [f"--user-data-dir={profile_dir}"]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    browser = webdriver.Chrome(service=Service(executable_path=driver_path), options=options)
    browser.set_page_load_timeout(60)
    browser.set_script_timeout(WAIT_S)
    return browser


def write_demo(demo, directory, count, *flags):
    directory.mkdir()
    subprocess.run([demo, str(directory), str(count), *flags], check=True, timeout=120)
    return json.loads((directory / "expected.json").read_text(encoding="utf-8"))


class Page:
    """One report page open in the browser, read as a user sees it."""

    def __init__(self, browser, directory):
        self.browser = browser
        self.directory = directory

    def open(self):
        started = time.monotonic()
        self.browser.get((self.directory / "index.html").as_uri())
        WebDriverWait(self.browser, WAIT_S).until(
            lambda b: b.execute_script("return document.body.dataset.ready === 'true'"))
        return time.monotonic() - started

    def js(self, script, *args):
        return self.browser.execute_script(script, *args)

    def console_errors(self):
        return [e for e in self.browser.get_log("browser") if e["level"] == "SEVERE"]

    def count_text(self):
        return self.browser.find_element(By.ID, "count").text

    def drawn_boxes(self):
        return int(self.browser.find_element(By.ID, "waterfall").get_attribute("data-boxes"))

    def current(self):
        return self.js("return kdspReport.current()")

    def row_indices(self):
        """The transmissions of the rows in the document, top to bottom."""
        return self.js("return [...document.querySelectorAll('#row-body tr.row')].map(r => Number(r.dataset.index))")

    def row_cells(self, index):
        return self.js("const r = document.querySelector(`#row-body tr[data-index=\"${arguments[0]}\"]`);"
                       "return r ? [...r.cells].map(c => c.textContent) : null", index)

    def headings(self):
        return self.js("return [...document.querySelectorAll('thead th button')].map(b => b.textContent)")

    def current_rows(self):
        return self.js("return [...document.querySelectorAll('#row-body tr.current')].map(r => Number(r.dataset.index))")

    def click_box(self, index):
        box = self.js("return kdspReport.boxRect(arguments[0])", index)
        check(box is not None, f"transmission {index} has no box on the waterfall")
        canvas = self.browser.find_element(By.ID, "waterfall")
        size = canvas.size
        # Selenium offsets from the element's centre.
        ActionChains(self.browser).move_to_element_with_offset(
            canvas, int(box["x"] + box["width"] / 2 - size["width"] / 2),
            int(box["y"] + box["height"] / 2 - size["height"] / 2)).click().perform()

    def click_row(self, index):
        self.browser.find_element(By.CSS_SELECTOR, f'#row-body tr[data-index="{index}"] td').click()

    def press(self, key):
        ActionChains(self.browser).send_keys(key).perform()

    def sort_by(self, key):
        self.browser.find_element(By.CSS_SELECTOR, f'th[data-key="{key}"] button').click()

    def wait_playing(self, file_name):
        """Waits for the one audio element to play `file_name` from beside the page."""
        def playing(browser):
            state = browser.execute_script(
                "const p = document.getElementById('player');"
                "return {paused: p.paused, src: p.currentSrc, error: p.error && p.error.code,"
                " players: document.querySelectorAll('audio').length}")
            check(state["error"] is None, f"the audio element failed on {file_name}: {state}")
            check(state["players"] == 1, f"the page has {state['players']} audio elements")
            source = urllib.parse.unquote(state["src"])
            return not state["paused"] and source == f"file://{self.directory / file_name}" and state
        try:
            return WebDriverWait(self.browser, WAIT_S).until(playing)
        except Exception as failure:
            raise Failure(f"{file_name} did not start playing: {failure}")

    def expect_chosen(self, index, files):
        self.wait_playing(files[index])
        check(self.current() == index, f"transmission {self.current()} is chosen, not {index}")
        drawn = self.browser.find_element(By.ID, "waterfall").get_attribute("data-current")
        check(drawn == str(index), f"the waterfall highlights {drawn!r}, not {index}")
        check(self.current_rows() == [index], f"rows highlighted: {self.current_rows()}, not [{index}]")

    def screenshot(self, path):
        path.parent.mkdir(parents=True, exist_ok=True)
        self.browser.save_screenshot(str(path))
        print(f"screenshot: {path}")


def expect_no_console_errors(page, what):
    errors = page.console_errors()
    check(not errors, f"{what}: console errors: {errors}")


def expect_shows_all(page, expected):
    total = len(expected)
    check(page.count_text() == f"{total} transmissions", f"count reads {page.count_text()!r}")
    check(page.drawn_boxes() == total, f"{page.drawn_boxes()} boxes drawn for {total} transmissions")


def expect_time_and_frequency(page, headings, first_row):
    """The first two columns' headings and the first transmission's cells in them."""
    check(page.headings()[:2] == headings, f"headings {page.headings()}, not {headings}")
    check(page.row_cells(0)[:2] == first_row, f"first row {page.row_cells(0)}, not {first_row}")


def check_small_page(page, expected, screenshot_dir):
    files = [t["file"] for t in expected]
    page.open()
    expect_no_console_errors(page, "the page with a dozen transmissions")
    expect_shows_all(page, expected)
    check(sorted(page.row_indices()) == list(range(len(expected))), "not every transmission has a row")

    # Labels and names built to break markup show as the text they are.
    check(page.js("return typeof window.pwned") == "undefined", "a label's markup ran as script")
    check(page.browser.title == "2m-band <evening> & \"net\".cf32 - transmissions", f"title {page.browser.title!r}")
    for i, t in enumerate(expected):
        shown = page.row_cells(i)[2]
        check(shown == (t["label"] or ""), f"row {i} label shows {shown!r}, recorded {t['label']!r}")
    expect_time_and_frequency(page, ["Time (UTC)", "Freq. (MHz)"], ["05:21:05.200", "145.4125"])

    # A click on a box plays that transmission and highlights its row; the
    # file name with a space, '#', '+' and '%' must reach the file.
    page.click_box(1)
    page.expect_chosen(1, files)
    page.screenshot(screenshot_dir / "report-page.png")
    page.click_row(5)
    page.expect_chosen(5, files)

    # j / down go to the next in the table's order, k / up back.
    for key, index in (("j", 6), (Keys.ARROW_DOWN, 7), ("k", 6), (Keys.ARROW_UP, 5)):
        page.press(key)
        page.expect_chosen(index, files)

    # Filters: one channel, then one tone on it; the others leave table and band.
    channel = [i for i, t in enumerate(expected) if t["frequency_hz"] == 145512500]
    Select(page.browser.find_element(By.ID, "channel-filter")).select_by_value("145512500")
    check(sorted(page.row_indices()) == channel, f"channel filter shows rows {page.row_indices()}, not {channel}")
    check(page.count_text() == f"{len(channel)} of {len(expected)} transmissions", page.count_text())
    check(page.drawn_boxes() == len(channel), f"{page.drawn_boxes()} boxes under the channel filter")
    check(page.js("return kdspReport.boxRect(0)") is None, "a filtered-out transmission keeps its box")
    toned = [i for i in channel if expected[i]["ctcss_hz"] == 123.0]
    Select(page.browser.find_element(By.ID, "tone-filter")).select_by_value("123.0")
    check(page.row_indices() == toned, f"channel and tone filter show {page.row_indices()}, not {toned}")
    check(page.drawn_boxes() == len(toned), f"{page.drawn_boxes()} boxes under both filters")
    Select(page.browser.find_element(By.ID, "channel-filter")).select_by_value("")
    Select(page.browser.find_element(By.ID, "tone-filter")).select_by_value("")
    expect_shows_all(page, expected)

    # Sorting by a column, both ways; the keys then follow the new order.
    by_level = sorted(range(len(expected)), key=lambda i: expected[i]["level_db"])
    page.sort_by("level")
    check(page.row_indices() == by_level, f"ascending level order {page.row_indices()}, not {by_level}")
    page.sort_by("level")
    check(page.row_indices() == by_level[::-1], f"descending level order {page.row_indices()}")
    page.click_row(by_level[-1])
    page.expect_chosen(by_level[-1], files)
    page.press("j")
    page.expect_chosen(by_level[-2], files)
    by_frequency = sorted(range(len(expected)), key=lambda i: (expected[i]["frequency_hz"], i))
    page.sort_by("frequency")
    check(page.row_indices() == by_frequency, f"frequency order {page.row_indices()}, not {by_frequency}")
    expect_no_console_errors(page, "after playing, filtering and sorting")


def check_page_without_centre(page, expected, screenshot_dir):
    files = [t["file"] for t in expected]
    page.open()
    expect_no_console_errors(page, "the page without centre or waterfall")
    expect_shows_all(page, expected)
    expect_time_and_frequency(page, ["Time", "Offset (kHz)"], ["1.200 s", "-87.5"])
    page.click_box(0)
    page.expect_chosen(0, files)
    page.screenshot(screenshot_dir / "report-page-no-centre.png")


def check_empty_page(page):
    page.open()
    expect_no_console_errors(page, "the page of a recording with no transmission")
    check(page.count_text() == "0 transmissions", f"count reads {page.count_text()!r}")
    check(page.drawn_boxes() == 0, "boxes drawn for no transmission")
    page.press("j")
    check(page.current() == -1, "a key chose a transmission that does not exist")


def check_large_page(page, expected, screenshot_dir):
    files = [t["file"] for t in expected]
    wall_s = page.open()
    ready_ms = page.js("return kdspReport.readyMs")
    expect_no_console_errors(page, f"the page with {len(expected)} transmissions")
    expect_shows_all(page, expected)
    made = len(page.row_indices())
    check(made < 100, f"{made} rows made for a list that shows a few dozen")

    # Scrolling to the end makes the last rows.
    page.js("const box = document.getElementById('rows'); box.scrollTop = box.scrollHeight")
    last = len(expected) - 1
    WebDriverWait(page.browser, WAIT_S).until(lambda b: page.row_cells(last) is not None)
    check(page.row_cells(last)[0].startswith("06:21:"), f"last row shows {page.row_cells(last)}")
    page.click_row(last)
    page.expect_chosen(last, files)
    page.press("k")
    page.expect_chosen(last - 1, files)

    # What a user waits for, measured inside the page.
    filter_ms = page.js(
        "const s = document.getElementById('tone-filter'); const t = performance.now();"
        "s.value = s.options[2].value; s.dispatchEvent(new Event('change'));"
        "const spent = performance.now() - t; s.value = ''; s.dispatchEvent(new Event('change')); return spent")
    sort_ms = page.js(
        "const b = document.querySelector('th[data-key=\"level\"] button'); const t = performance.now();"
        "b.click(); return performance.now() - t")
    step_ms = page.js(
        "const t = performance.now(); document.dispatchEvent(new KeyboardEvent('keydown', {key: 'j'}));"
        "return performance.now() - t")
    scroll_ms = page.js(
        "const box = document.getElementById('rows'); const t = performance.now();"
        "box.scrollTop = box.scrollHeight / 2; box.dispatchEvent(new Event('scroll'));"
        "return performance.now() - t")
    page.screenshot(screenshot_dir / f"report-page-{len(expected)}.png")
    expect_no_console_errors(page, f"after using the page with {len(expected)} transmissions")
    size_mb = (page.directory / "index.html").stat().st_size / 1e6
    print(f"{len(expected)} transmissions: page {size_mb:.2f} MB, loaded and drawn in {wall_s * 1000:.0f} ms "
          f"(ready {ready_ms:.0f} ms after navigation); filter {filter_ms:.1f} ms, sort {sort_ms:.1f} ms, "
          f"next {step_ms:.1f} ms, scroll {scroll_ms:.1f} ms")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--demo", required=True, help="the report_demo_page program")
    parser.add_argument("--screenshot-dir", required=True, type=pathlib.Path)
    arguments = parser.parse_args()
    chromium, driver_path = find_browser()

    with tempfile.TemporaryDirectory(prefix="kdsp-report-") as scratch:
        scratch = pathlib.Path(scratch)
        small = write_demo(arguments.demo, scratch / "small", 12)
        no_centre = write_demo(arguments.demo, scratch / "no-centre", 12, "--no-centre", "--no-waterfall")
        write_demo(arguments.demo, scratch / "empty", 0)
        large = write_demo(arguments.demo, scratch / "large", LARGE_PAGE_COUNT)
        browser = start_browser(chromium, driver_path, scratch / "profile")
        try:
            check_small_page(Page(browser, scratch / "small"), small, arguments.screenshot_dir)
            check_page_without_centre(Page(browser, scratch / "no-centre"), no_centre, arguments.screenshot_dir)
            check_empty_page(Page(browser, scratch / "empty"))
            check_large_page(Page(browser, scratch / "large"), large, arguments.screenshot_dir)
        except Failure as failure:
            print(f"FAILED: {failure}")
            return 1
        finally:
            browser.quit()
    print("the report page passed every check in Chromium")
    return 0


if __name__ == "__main__":
    sys.exit(main())
