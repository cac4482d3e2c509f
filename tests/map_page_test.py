#!/usr/bin/env python3
"""The map's page (/Map OUT.html) in a real browser.

Each level of the table is drawn into a page, which headless Chromium opens
through its driver. The page must load without a console error and hold every
room of the range; each storey of the picker shows its rooms (and only them)
inside the view, and the picker says how many rooms each holds; a search for a
room switches to its storey, centres and marks it; the hover box gives the
numbers the room table (/ShowRooms --json) gives, and the world point and
sector under the pointer; the legend stays in view and the room numbers
readable at every zoom; the toggles show the flipped state and hide items;
hovering a triggered sector lists its triggers, and choosing an item marks the
sectors whose triggers name it; printed, the page is the storey shown without
the controls. The time each page takes to open is printed.

Skips (status 77) with a message when Chromium, its driver or Selenium is
missing, and skips the real levels when their folder is absent.

  map_page_test.py --tool QUILLMAP --make-levels QM_PAGE_LEVELS
                   --samples examples/levels --shared ../shared/levels
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

from map_page_checks import (STATE_JS, check, check_hover, check_missing, check_print, check_search, check_storeys,
                             check_toggles, check_triggers, check_zoom_and_pan, console_errors, failures, open_page)
from map_page_view_checks import (check_flipped, check_framed, check_label_sizes, check_legend, check_picker,
                                  check_point_hover)

SKIP = 77
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--window-size=1280,900"]


def run_tool(tool, *args):
    done = subprocess.run([tool, *args], capture_output=True)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(args)} ended with {done.returncode}: {done.stdout!r} {done.stderr!r}")
    return done.stdout


def level_json(tool, level, function, *rng):
    doc = json.loads(run_tool(tool, "--json", level, function, *rng))
    return doc["levels"][0]


def with_panels(page):
    """The page with its rooms in storey panels side by side, one per floor
    height, as the picture lays out a level of several storeys: groups of
    class "storey" (data-storey, data-low, data-high), the item marks in the
    panel of their room with its number in data-room, and the rooms' labels
    (with data-room) in one layer above all panels."""
    with open(page, encoding="utf-8") as f:
        text = f.read()
    start, end = text.index("<svg"), text.index("</svg>") + len("</svg>")
    root = ET.fromstring(text[start:end])
    rooms_facts = json.loads(re.search(r'id="map-facts">(.*?)</script>', text, re.S).group(1))["rooms"]
    facts = {str(r["room"]): r for r in rooms_facts}
    floors = sorted({r["floor"] for r in facts.values()}, reverse=True)  # the lowest storey first
    left = min(r["x"] for r in facts.values())
    step = max(r["x"] + r["sizeX"] for r in facts.values()) - left + 2
    rooms = root.find(".//g[@id='rooms']")
    panels = []
    for k, floor in enumerate(floors):
        panel = ET.Element("g", {"class": "storey", "id": f"storey-{k + 1}", "data-storey": str(k + 1),
                                 "data-low": str(floor), "data-high": str(floor), "transform": f"translate({k * step} 0)"})
        panels.append(panel)
    labels = ET.Element("g", {"class": "labels"})
    for g in list(rooms):
        rooms.remove(g)
        n = g.get("id")[5:]
        k = floors.index(facts[n]["floor"])
        panels[k].append(g)
        label = g.find("text[@class='label']")
        g.remove(label)
        label.set("data-room", n)
        label.set("x", str(float(label.get("x")) + k * step))
        labels.append(label)
    marks = root.find(".//g[@id='items']")
    for mark in list(marks) if marks is not None else []:
        n = re.search(r"room (\d+)", mark.find("title").text).group(1)
        mark.set("data-room", n)
        marks.remove(mark)
        panels[floors.index(facts[n]["floor"])].append(mark)
    rooms.extend(panels + [labels])
    scale = float(re.search(r"scale\(([^)]+)\)", rooms.get("transform")).group(1))
    width = float(root.get("width")) + (len(floors) - 1) * step * scale
    height = float(root.get("height"))
    root.set("width", str(width))
    root.set("viewBox", f"0 0 {width} {height}")
    with open(page, "w", encoding="utf-8") as f:
        f.write(text[:start] + ET.tostring(root, encoding="unicode") + text[end:])


def start_driver(webdriver, chromium, chromedriver, profile):
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for flag in CHROMIUM_FLAGS + [f"--user-data-dir={profile}"]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(executable_path=chromedriver), options=options)


def cases(args, work):
    """(label, level, the range's arguments, --no-items, storey panels) per row."""
    rows = []
    for name in sorted(os.listdir(args.samples)):
        rows.append((name, os.path.join(args.samples, name), [], False, False))
    if os.path.isdir(args.shared):
        for sub in sorted(os.listdir(args.shared)):
            folder = os.path.join(args.shared, sub)
            if os.path.isdir(folder):
                for name in sorted(os.listdir(folder)):
                    rows.append((f"{sub}/{name}", os.path.join(folder, name), [], False, False))
    else:
        print(f"map page test: the real levels are skipped, {args.shared} is absent")
    subprocess.run([args.make_levels, work], check=True)
    stacked = os.path.join(work, "stacked.tr4")
    # A name the page must escape in its title and its JSON.
    odd = os.path.join(work, "a&b <c> \"q\" 'x' <!-- -->.tr4")
    shutil.copyfile(stacked, odd)
    rows += [("stacked", stacked, [], False, False), ("stacked, rooms 1 to 4", stacked, ["1", "4"], False, False),
             ("stacked, --no-items", stacked, [], True, False), ("odd name", odd, [], False, False),
             ("stacked, storey panels", stacked, [], False, True),
             ("stacked, rooms 1 to 4, storey panels", stacked, ["1", "4"], False, True),
             ("an item far outside the rooms", os.path.join(work, "far_item.tr4"), [], False, False),
             ("no rooms", os.path.join(work, "empty.tr2"), [], False, False)]
    return rows


def main():
    parser = argparse.ArgumentParser()
    for name in ("--tool", "--make-levels", "--samples", "--shared"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    try:
        from selenium import webdriver
    except ImportError:
        print("map page test: skipped, Selenium for Python (python3-selenium) is not installed")
        return SKIP
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    chromedriver = shutil.which("chromedriver")
    if not chromium or not chromedriver:
        print("map page test: skipped, chromium and chromium-driver are not installed")
        return SKIP
    work = tempfile.mkdtemp(prefix="qm-page-")
    profile = tempfile.mkdtemp(prefix="qm-chromium-")
    driver = start_driver(webdriver, chromium, chromedriver, profile)
    try:
        driver.get("about:blank")  # the browser's own start, outside the pages' times
        pointed = 0  # sectors whose point the hover box gave
        for label, level, rng, no_items, panels in cases(args, work):
            print(f"{label}:")
            page = os.path.join(work, "map.html")
            run_tool(args.tool, *(["--no-items"] if no_items else []), level, "/Map", page, *rng)
            if panels and "class=\"storey\"" not in open(page, encoding="utf-8").read():
                with_panels(page)
            table = level_json(args.tool, level, "/ShowRooms", *rng)["rooms"]
            entities = level_json(args.tool, level, "/ShowEntities")["entities"]
            seconds = open_page(driver, page)
            print(f"  opened in {seconds * 1000:.0f} ms ({os.path.getsize(page)} bytes)")
            errors = console_errors(driver)
            check(not errors, f"{label}: console errors {errors}")
            check(driver.title.startswith("Map of " + os.path.basename(level)), f"{label}: title {driver.title!r}")
            check_storeys(driver, label, {str(r["room"]) for r in table})
            check_picker(driver, label, table)
            if not table:
                check_missing(driver, label)
                check(not console_errors(driver), f"{label}: console errors after use")
                continue
            # The last room, then the first room of each storey from the top
            # down: each search but the first switches storeys when there are several.
            where = driver.execute_script(STATE_JS)["rooms"]
            firsts = {}
            for row in table:
                firsts.setdefault(where[str(row["room"])]["storey"], row["room"])
            check_search(driver, label, [table[-1]["room"]] + [firsts[k] for k in sorted(firsts, reverse=True)])
            # Hover: a few rooms spread over the range, those with items first.
            per_room = {}
            for e in entities:
                per_room[e["room"]] = per_room.get(e["room"], 0) + 1
            hovered = 0
            for row in sorted(table, key=lambda r: (-per_room.get(r["room"], 0), r["room"])):
                hovered += check_hover(driver, label, row, per_room.get(row["room"], 0), not no_items)
                if hovered == 3:
                    break
            check(hovered > 0, f"{label}: no room could be hovered")
            triggers = level_json(args.tool, level, "/ShowTriggers", *rng)["triggers"]
            check_triggers(driver, label, triggers, entities, {r["room"] for r in table})
            pointed += check_point_hover(driver, label, table)
            check_toggles(driver, label, not no_items)
            check_flipped(driver, label, table)
            check_zoom_and_pan(driver, label)
            check_legend(driver, label, label.startswith(("tr2-large", "stacked")))
            check_label_sizes(driver, label)
            check_framed(driver, label)
            check_print(driver, label, work)
            check(not console_errors(driver), f"{label}: console errors after use")
        check(pointed >= 10, f"the hover box gave the point of {pointed} sectors")
    finally:
        driver.quit()
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(profile, ignore_errors=True)
    if failures:
        print(f"map page test: {len(failures)} failures")
        return 1
    print("map page test: every page works")
    return 0


if __name__ == "__main__":
    sys.exit(main())
