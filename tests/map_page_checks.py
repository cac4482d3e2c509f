"""The checks of the map page's browser test (map_page_test.py): each reads
the page's state in the browser through small scripts and records what is
wrong in failures."""
import base64
import os
import re
import time

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("  FAIL: " + what)
    return ok


# The page's state, read in the browser: which rooms are drawn, where, and in
# which storey panel (-1 outside any; 0 for a picture without panels).
STATE_JS = """
const svg = document.querySelector('#view > svg');
const view = svg.getBoundingClientRect();
const panels = Array.from(svg.querySelectorAll('g.storey'));
const rooms = {};
for (const g of svg.querySelectorAll('g.room')) {
  const n = g.dataset.room ?? g.id.replace(/^room-/, '');
  const outline = g.querySelector('rect.outline') || g;
  const r = outline.getBoundingClientRect();
  rooms[n] = {storey: panels.length ? panels.indexOf(g.closest('g.storey')) : 0,
              drawn: r.width > 0 || r.height > 0, flip: g.classList.contains('flip'),
              found: g.classList.contains('found'),
              box: [r.left, r.top, r.right, r.bottom]};
}
const labels = {};
for (const t of svg.querySelectorAll('.label[data-room]')) {
  const r = t.getBoundingClientRect();
  labels[t.dataset.room] = {drawn: r.width > 0 || r.height > 0, crowded: t.classList.contains('crowded')};
}
const drawnMarks = Array.from(svg.querySelectorAll('.item')).filter(m => m.getBoundingClientRect().width > 0).length;
const controls = document.getElementById('controls').getBoundingClientRect();
return {rooms, labels, panels: panels.length, view: [view.left, view.top, view.right, view.bottom],
        marks: svg.querySelectorAll('.item').length, drawnMarks,
        controlsShown: controls.width > 0 && controls.height > 0,
        storey: document.getElementById('storey').value,
        options: Array.from(document.getElementById('storey').options).map(o => o.value)};
"""

# A point of the view where the room is the only room under the pointer (its
# group the topmost element, no other room's shape nor any number beneath), or null.
POINT_JS = """
const g = document.getElementById('room-' + arguments[0]);
const r = (g.querySelector('rect.outline') || g).getBoundingClientRect();
for (let k = 1; k < 8; ++k)
  for (let j = 1; j < 8; ++j) {
    const x = Math.round(r.left + r.width * k / 8), y = Math.round(r.top + r.height * j / 8);
    const under = document.elementsFromPoint(x, y);
    if (under.length && under[0].closest('g.room') === g &&
        under.every((e) => !e.closest('.label') && (!e.closest('g.room') || e.closest('g.room') === g))) return [x, y];
  }
return null;
"""

INFO_JS = """
const info = document.getElementById('info');
const rows = {};
for (const tr of info.querySelectorAll('tr')) rows[tr.cells[0].textContent] = tr.cells[1].textContent;
return {hidden: info.hidden || info.getBoundingClientRect().width === 0,
        heading: (info.querySelector('h2') || {}).textContent, rows,
        items: Array.from(info.querySelectorAll('li')).map(li => li.textContent)};
"""


def inside(box, view, slack=1.5):
    return (box[0] >= view[0] - slack and box[1] >= view[1] - slack and
            box[2] <= view[2] + slack and box[3] <= view[3] + slack)


def open_page(driver, path):
    start = time.monotonic()
    driver.get("file://" + os.path.abspath(path))
    driver.execute_script("return document.readyState")
    return time.monotonic() - start


def console_errors(driver):
    return [e["message"] for e in driver.get_log("browser") if e.get("level") == "SEVERE"]


def select_storey(driver, value):
    from selenium.webdriver.support.ui import Select
    Select(driver.find_element("id", "storey")).select_by_value(value)


def check_storeys(driver, label, table_rooms):
    state = driver.execute_script(STATE_JS)
    check(set(state["rooms"]) == set(table_rooms),
          f"{label}: the page draws rooms {sorted(state['rooms'], key=int)}, the table has {sorted(table_rooms, key=int)}")
    storeys = [v for v in state["options"] if v != "all"]
    check(len(storeys) == max(1, state["panels"]), f"{label}: {len(storeys)} storeys for {state['panels']} panels")
    for value in storeys:
        select_storey(driver, value)
        state = driver.execute_script(STATE_JS)
        k = int(value)
        for n, room in state["rooms"].items():
            mine = room["storey"] == k or room["storey"] < 0
            if not check(room["drawn"] == mine, f"{label}: storey {k + 1}: room {n} drawn is {room['drawn']}"):
                break
            if mine and not check(inside(room["box"], state["view"]),
                                  f"{label}: storey {k + 1}: room {n} {room['box']} outside the view {state['view']}"):
                break
        check_labels(label, state, f"storey {k + 1}")
    if "all" in state["options"]:
        select_storey(driver, "all")
        state = driver.execute_script(STATE_JS)
        check(all(r["drawn"] for r in state["rooms"].values()), f"{label}: all storeys: a room is hidden")
        select_storey(driver, storeys[0])


def check_labels(label, state, what):
    """Labels outside their room's group are drawn exactly when the room is,
    unless left out where enlarged numbers would cover each other."""
    for n, shown in state["labels"].items():
        want = state["rooms"][n]["drawn"] and not shown["crowded"]
        if not check(shown["drawn"] == want, f"{label}: {what}: the label of room {n} drawn is {shown['drawn']}"):
            break


def search(driver, n):
    from selenium.webdriver.common.keys import Keys
    box = driver.find_element("id", "room-number")
    box.clear()
    box.send_keys(str(n), Keys.ENTER)
    return driver.execute_script(STATE_JS)


def check_search(driver, label, rooms):
    """Searches each room of rooms in turn."""
    for n in rooms:
        state = search(driver, n)
        room = state["rooms"][str(n)]
        found = [m for m, r in state["rooms"].items() if r["found"]]
        check(found == [str(n)], f"{label}: search {n}: marked {found}")
        if room["storey"] >= 0:
            check(state["storey"] == str(room["storey"]),
                  f"{label}: search {n}: storey {state['storey']} shown, the room is in {room['storey']}")
        check(room["drawn"], f"{label}: search {n}: the room is not drawn")
        view, box = state["view"], room["box"]
        cx, cy = (box[0] + box[2]) / 2, (box[1] + box[3]) / 2
        vx, vy = (view[0] + view[2]) / 2, (view[1] + view[3]) / 2
        check(abs(cx - vx) <= 0.02 * (view[2] - view[0]) + 1 and abs(cy - vy) <= 0.02 * (view[3] - view[1]) + 1,
              f"{label}: search {n}: centred at {cx:.0f},{cy:.0f}, the view's centre is {vx:.0f},{vy:.0f}")
        info = driver.execute_script(INFO_JS)
        check(not info["hidden"] and info["heading"] == f"Room {n}", f"{label}: search {n}: info box {info['heading']}")
    check_missing(driver, label)


def check_missing(driver, label):
    search(driver, 99999)
    note = driver.find_element("id", "find-note").text
    check("99999" in note and "not" in note, f"{label}: a missing room says {note!r}")


def hover(driver, n):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.actions.action_builder import ActionBuilder
    point = driver.execute_script(POINT_JS, str(n))
    if point is None:
        return None
    actions = ActionBuilder(driver, duration=0)
    actions.pointer_action.move_to_location(int(point[0]), int(point[1]))
    actions.perform()
    ActionChains(driver, duration=0).pause(0.05).perform()
    return driver.execute_script(INFO_JS)


def check_hover(driver, label, row, item_count, items_drawn):
    """False when the room is nowhere the topmost element (rooms above cover it)."""
    n = row["room"]
    search(driver, n)  # its storey, centred
    driver.find_element("tag name", "body").send_keys("\ue00c")  # Escape: nothing pinned
    info = hover(driver, n)
    if info is None:
        return False
    check(not info["hidden"] and info["heading"] == f"Room {n}", f"{label}: hover {n}: the box shows {info}")
    rows = info["rows"]
    expected = {"Floor": str(row["floor"]), "Ceiling": str(row["ceiling"]),
                "Size": f"{row['sizeX']} \u00d7 {row['sizeZ']} sectors",
                "Position": f"x {row['x']}, z {row['z']} (sectors)",
                "Flip room": str(row["alternate"]) if row["alternate"] >= 0 else "none",
                "Vertices": str(row["vertices"]), "Portals": str(row["portals"]),
                "Statics": str(row["statics"])}
    for name, value in expected.items():
        check(rows.get(name) == value, f"{label}: hover {n}: {name} is {rows.get(name)!r}, the table says {value!r}")
    check(rows.get("Flags", "").startswith(f"0x{row['flags']:04X}"), f"{label}: hover {n}: flags {rows.get('Flags')!r}")
    if row["water"]:
        check("Water" in rows.get("Flags", ""), f"{label}: hover {n}: the water flag is not named")
    if items_drawn:
        check(rows.get("Items") == str(item_count), f"{label}: hover {n}: {rows.get('Items')} items, not {item_count}")
    else:
        check("Items" not in rows and not info["items"], f"{label}: hover {n}: items shown with --no-items")
    # A tap (a click in place) keeps the room shown when the pointer leaves the
    # picture; Esc lets it go.
    from selenium.webdriver.common.action_chains import ActionChains
    ActionChains(driver, duration=0).click().perform()
    ActionChains(driver, duration=0).move_to_element(driver.find_element("id", "controls")).perform()
    info = driver.execute_script(INFO_JS)
    check(not info["hidden"] and info["heading"] == f"Room {n}", f"{label}: tap {n}: then the box shows {info['heading']}")
    driver.find_element("tag name", "body").send_keys("\ue00c")
    check(driver.execute_script(INFO_JS)["hidden"], f"{label}: tap {n}: Esc leaves the box shown")
    return True


def check_toggles(driver, label, items_drawn):
    """The box hides and shows the item marks."""
    state = driver.execute_script(STATE_JS)
    select_storey(driver, "all" if "all" in state["options"] else state["options"][0])
    items = driver.find_element("id", "show-items")
    state = driver.execute_script(STATE_JS)
    check(items.is_enabled() == (items_drawn and state["marks"] > 0), f"{label}: the items toggle's state")
    if items.is_enabled():
        check(state["drawnMarks"] > 0, f"{label}: no item mark drawn")
        items.click()
        check(driver.execute_script(STATE_JS)["drawnMarks"] == 0, f"{label}: item marks still drawn")
        items.click()


def set_media(driver, media):
    """Emulates the media, then waits two frames: the page hears of the change
    in the frame's rendering steps."""
    driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"media": media})
    driver.execute_async_script("const done = arguments[0]; requestAnimationFrame(() => requestAnimationFrame(done));")


def check_print(driver, label, out_dir):
    state = driver.execute_script(STATE_JS)
    storeys = [v for v in state["options"] if v != "all"]
    shown = storeys[-1]
    select_storey(driver, shown)
    for _ in range(3):
        driver.find_element("id", "zoom-in").click()
    zoomed = driver.execute_script("return document.querySelector('#view > svg').getAttribute('viewBox')")
    set_media(driver, "print")
    state = driver.execute_script(STATE_JS)
    fitted = driver.execute_script("return document.querySelector('#view > svg').getAttribute('viewBox')")
    set_media(driver, "")
    check(not state["controlsShown"], f"{label}: print: the controls are printed")
    # The whole storey, however far the view was zoomed in.
    for n, room in state["rooms"].items():
        mine = room["storey"] in (int(shown), -1)
        if not check(room["drawn"] == mine, f"{label}: print: room {n} drawn is {room['drawn']}"):
            break
        if mine and not check(inside(room["box"], state["view"]), f"{label}: print: room {n} outside the page"):
            break
    after = driver.execute_script("return document.querySelector('#view > svg').getAttribute('viewBox')")
    check(after == zoomed, f"{label}: after printing the view is {after}, not {zoomed} as before")
    check_labels(label, state, "print")
    # Printing itself shows the same view, and gives the zoomed one back.
    driver.execute_script("window.printedView = null; addEventListener('beforeprint', () => "
                          "{ window.printedView = document.querySelector('#view > svg').getAttribute('viewBox'); });")
    pdf = base64.b64decode(driver.print_page())
    printed = driver.execute_script("return window.printedView")
    # The same view within a thousandth of its size (the printed page lays the
    # text of the labels out again, which moves the fitted box by a hair).
    size = max(abs(float(v)) for v in fitted.split()[2:])
    same = printed is not None and all(abs(float(a) - float(b)) <= 1e-3 * size
                                       for a, b in zip(printed.split(), fitted.split()))
    check(same, f"{label}: printed with the view {printed}, not {fitted}")
    after = driver.execute_script("return document.querySelector('#view > svg').getAttribute('viewBox')")
    check(after == zoomed, f"{label}: after printing to PDF the view is {after}, not {zoomed}")
    check(pdf.startswith(b"%PDF"), f"{label}: print: no PDF")
    pages = len(re.findall(rb"/Type\s*/Page\b", pdf))
    check(pages == 1, f"{label}: print: {pages} pages")
    with open(os.path.join(out_dir, "page.pdf"), "wb") as f:
        f.write(pdf)
    png = driver.get_screenshot_as_png()
    check(png.startswith(b"\x89PNG"), f"{label}: no screenshot")


VIEWBOX_JS = """
const svg = document.querySelector('#view > svg');
const [x, y, w, h] = svg.getAttribute('viewBox').split(/[ ,]+/).map(Number);
const r = svg.getBoundingClientRect();
return {x, y, w, h, cx: (r.left + r.right) / 2, cy: (r.top + r.bottom) / 2, scale: svg.getScreenCTM().a};
"""

# The picture's point under the client point.
USER_POINT_JS = """
const p = new DOMPoint(arguments[0], arguments[1])
  .matrixTransform(document.querySelector('#view > svg').getScreenCTM().inverse());
return [p.x, p.y];
"""


def near(a, b, tolerance):
    return abs(a - b) <= tolerance * max(1.0, abs(b))


def check_zoom_and_pan(driver, label):
    """Buttons, wheel, mouse drag and a two-finger pinch move the view as they should."""
    from selenium.webdriver.common.action_chains import ActionChains
    driver.find_element("id", "zoom-fit").click()
    start = driver.execute_script(VIEWBOX_JS)
    driver.find_element("id", "zoom-in").click()
    check(near(driver.execute_script(VIEWBOX_JS)["w"], start["w"] / 1.5, 1e-3), f"{label}: + does not zoom in")
    driver.find_element("id", "zoom-out").click()
    check(near(driver.execute_script(VIEWBOX_JS)["w"], start["w"], 1e-3), f"{label}: - does not zoom back")
    # The wheel zooms in at the pointer: the picture's point under it stays.
    x, y = int(start["cx"]) - 120, int(start["cy"]) + 60
    before = driver.execute_script(USER_POINT_JS, x, y)
    driver.execute_cdp_cmd("Input.dispatchMouseEvent", {"type": "mouseWheel", "x": x, "y": y, "deltaX": 0, "deltaY": -200})
    view = driver.execute_script(VIEWBOX_JS)
    after = driver.execute_script(USER_POINT_JS, x, y)
    check(view["w"] < start["w"] * 0.9, f"{label}: the wheel does not zoom in ({view['w']} from {start['w']})")
    check(near(after[0], before[0], 1e-3) and near(after[1], before[1], 1e-3),
          f"{label}: the wheel moved the point under the pointer from {before} to {after}")
    # A drag moves the picture with the pointer, and pins no room.
    driver.find_element("id", "zoom-fit").click()
    view = driver.execute_script(VIEWBOX_JS)
    ActionChains(driver, duration=0).move_by_offset(0, 0).perform()
    actions = ActionChains(driver, duration=0)
    actions.move_to_element(driver.find_element("css selector", "#view > svg")).click_and_hold()
    actions.move_by_offset(60, 0).move_by_offset(60, -40).release().perform()
    moved = driver.execute_script(VIEWBOX_JS)
    check(near(moved["x"], view["x"] - 120 / view["scale"], 1e-2) and near(moved["y"], view["y"] + 40 / view["scale"], 1e-2),
          f"{label}: a drag of 120,-40 px moved the view from {view['x']:.2f},{view['y']:.2f} to {moved['x']:.2f},{moved['y']:.2f}")
    # Two fingers moving apart zoom in.
    driver.find_element("id", "zoom-fit").click()
    view = driver.execute_script(VIEWBOX_JS)
    cx, cy = view["cx"], view["cy"]
    def touch(kind, spread):
        points = [] if kind == "touchEnd" else [{"x": cx - spread, "y": cy, "id": 1}, {"x": cx + spread, "y": cy, "id": 2}]
        driver.execute_cdp_cmd("Input.dispatchTouchEvent", {"type": kind, "touchPoints": points})
    touch("touchStart", 40)
    for spread in (60, 80, 100, 120):
        touch("touchMove", spread)
    touch("touchEnd", 0)
    pinched = driver.execute_script(VIEWBOX_JS)
    check(pinched["w"] < view["w"] * 0.6, f"{label}: a pinch from 80 to 240 px left the view {pinched['w']} wide, from {view['w']}")
    driver.find_element("id", "zoom-fit").click()


# The triggers of the page: a triggered sector's point (its centre) where its
# room's group is the topmost element, or null.
TRIGGER_POINT_JS = """
const g = document.getElementById('room-' + arguments[0]);
const m = g && g.parentNode.getScreenCTM();
if (!m) return null;
const p = new DOMPoint(arguments[1] / 1024 + 0.5, -(arguments[2] / 1024 + 0.5)).matrixTransform(m);
const hit = document.elementFromPoint(p.x, p.y);
return hit && hit.closest('g.room') === g ? [p.x, p.y] : null;
"""

TRIGGER_INFO_JS = """
const info = document.getElementById('info');
const texts = (s) => Array.from(info.querySelectorAll(s)).map(e => e.textContent);
return {hidden: info.hidden, heading: (info.querySelector('h2') || {}).textContent, heads: texts('h3.trigger'),
        lines: texts('.trigger-line'), actions: texts('.trigger-action')};
"""

# The sectors marked for the item chosen, and how many of them are drawn.
FOUND_JS = """
const rects = Array.from(document.querySelectorAll('rect.trigger-found'));
return {sectors: rects.map(r => [Number(r.dataset.room), Number(r.dataset.column), Number(r.dataset.row)]),
        drawn: rects.filter(r => r.getBoundingClientRect().width > 0).length,
        note: document.getElementById('item-note').textContent};
"""

# A drawn item mark's centre where the mark is the topmost element, or null.
MARK_POINT_JS = """
const mark = document.querySelector('#view > svg .item[data-item="' + arguments[0] + '"]');
if (!mark) return null;
const r = mark.getBoundingClientRect();
if (r.width === 0) return null;
const x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
return document.elementFromPoint(x, y) === mark ? [x, y] : null;
"""


def action_text(a):
    """An action as /ShowTriggers writes it, from its JSON: "Object 4 Door_1"."""
    key = next(k for k in a if k != "action")
    text = f"{a['action']} {a[key]}"
    return f"{text} {a['name']}" if "item" in a and a.get("name") else text


def move_to(driver, point):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.actions.action_builder import ActionBuilder
    actions = ActionBuilder(driver)
    actions.pointer_action.move_to_location(int(point[0]), int(point[1]))
    actions.perform()
    ActionChains(driver).pause(0.05).perform()


def choose_item(driver, n):
    from selenium.webdriver.common.keys import Keys
    box = driver.find_element("id", "item-number")
    box.clear()
    box.send_keys(str(n), Keys.ENTER)
    return driver.execute_script(FOUND_JS)


def check_triggers(driver, label, triggers, entities, drawn):
    """Hovering a triggered sector lists its triggers and their actions under
    the room's details; choosing an item (by its number, or a click on its
    mark) marks the sectors whose triggers name it. triggers: /ShowTriggers
    --json of the page's range; entities: /ShowEntities --json; drawn: the
    rooms of the page."""
    by_sector = {}
    for t in triggers:
        by_sector.setdefault((t["room"], t["column"], t["row"]), []).append(t)
    hovered = 0
    for (room, column, row), ts in by_sector.items():
        if hovered == 3:
            break
        search(driver, room)  # its storey, the room centred
        driver.find_element("tag name", "body").send_keys("\ue00c")
        point = driver.execute_script(TRIGGER_POINT_JS, str(room), ts[0]["x"], ts[0]["z"])
        if point is None:
            continue
        move_to(driver, point)
        info = driver.execute_script(TRIGGER_INFO_JS)
        what = f"{label}: hover sector {column},{row} of room {room}"
        check(not info["hidden"] and info["heading"] == f"Room {room}", f"{what}: the box shows {info['heading']}")
        check(info["heads"] == [f"Trigger, sector {column},{row} (x {t['x']}, z {t['z']})" for t in ts],
              f"{what}: {info['heads']}")
        mask = lambda m: "".join(str(k + 1) if m >> k & 1 else "-" for k in range(5))
        lines = [f"{t['type']}, timer {t['timer']}, once {'yes' if t['once'] else 'no'}, mask {mask(t['mask'])}" for t in ts]
        check(info["lines"] == lines, f"{what}: {info['lines']}, not {lines}")
        actions = [action_text(a) for t in ts for a in t["actions"]]
        check(info["actions"] == actions, f"{what}: actions {info['actions']}, not {actions}")
        hovered += 1
    check(hovered > 0 or not by_sector, f"{label}: no triggered sector could be hovered")
    # By number: the item most triggers name, then one that none names.
    named = sorted((e for e in entities if e["triggers"]), key=lambda e: (-len(e["triggers"]), e["index"]))
    unnamed = [e for e in entities if not e["triggers"]]
    for e in named[:1] + unnamed[:1]:
        found = choose_item(driver, e["index"])
        expected = {(s["room"], s["column"], s["row"]) for s in e["triggers"] if s["room"] in drawn}
        what = f"{label}: item {e['index']}"
        check({tuple(s) for s in found["sectors"]} == expected, f"{what}: marked {found['sectors']}, not {sorted(expected)}")
        check(found["drawn"] > 0 or not expected, f"{what}: no marked sector is shown")
        if not e["triggers"]:
            check(found["note"] == f"Item {e['index']} is named by no trigger.", f"{what}: the note says {found['note']!r}")
    # By a click on its mark: a named item whose mark can be clicked.
    clicked = False
    for e in named:
        search(driver, e["room"])
        choose_item(driver, "")  # nothing marked (its note may move the picture: the point comes after)
        point = driver.execute_script(MARK_POINT_JS, str(e["index"]))
        if point is None:
            continue
        from selenium.webdriver.common.actions.action_builder import ActionBuilder
        actions = ActionBuilder(driver)
        actions.pointer_action.move_to_location(int(point[0]), int(point[1])).click()
        actions.perform()
        found = driver.execute_script(FOUND_JS)
        expected = {(s["room"], s["column"], s["row"]) for s in e["triggers"] if s["room"] in drawn}
        check({tuple(s) for s in found["sectors"]} == expected,
              f"{label}: a click on the mark of item {e['index']} marked {found['sectors']}, not {sorted(expected)}")
        clicked = True
        break
    # The built level's named items stand in the middle of their rooms, in reach.
    if label.startswith("stacked") and "no-items" not in label:
        check(clicked, f"{label}: no named item's mark could be clicked")
