"""The map page's view in the browser test (map_page_test.py): the legend in
view, room numbers readable at every zoom, the world point and sector under
the pointer, the storey picker's counts, the flipped state and the frame of a
level with far items. Expected values come from the level (/ShowRooms
--json) and from the picture's own geometry, never from the page's script."""
import math

from map_page_checks import STATE_JS, check, search, select_storey

SECTOR = 1024

# Where the legend is and whether it is still inside the picture.
LEGEND_JS = """
const bar = document.getElementById('legend-bar');
const legend = document.getElementById('legend');
const r = legend ? legend.getBoundingClientRect() : null;
return {box: r ? [r.left, r.top, r.right, r.bottom] : null,
        inPicture: !!document.querySelector('#view > svg #legend'),
        window: [innerWidth, innerHeight], barShown: !!bar && !bar.hidden};
"""

# The room numbers shown: their screen boxes and their size on screen (the
# font's size times the scale from the picture to the screen).
LABELS_JS = """
const out = [];
let crowded = 0;
for (const t of document.querySelectorAll('#view > svg text.label[data-room]')) {
  const r = t.getBoundingClientRect();
  if (r.width === 0 && r.height === 0) { if (t.classList.contains('crowded')) ++crowded; continue; }
  const b = t.getBBox();
  const px = parseFloat(getComputedStyle(t).fontSize) * r.height / Math.max(b.height, 1e-9);
  out.push({room: t.dataset.room, box: [r.left, r.top, r.right, r.bottom], px});
}
const svg = document.querySelector('#view > svg');
return {labels: out, crowded, scale: svg.getScreenCTM().a};
"""

# The client point of the sector point (u, v) of room N's panel (sector
# units, +v down), from the panel's rooms layer.
SECTOR_POINT_JS = """
const layer = document.getElementById('room-' + arguments[0]).parentNode;
const p = new DOMPoint(arguments[1], arguments[2]).matrixTransform(layer.getScreenCTM());
return [p.x, p.y, layer.getScreenCTM().a, p.x >= 0 && p.y >= 0 && p.x < innerWidth && p.y < innerHeight];
"""

# Room N's grid as the picture places it, in sectors: x, and z of its south edge.
GRID_JS = """
const o = document.querySelector('#room-' + arguments[0] + ' > rect.outline');
return [Number(o.getAttribute('x')), -(Number(o.getAttribute('y')) + Number(o.getAttribute('height')))];
"""

# The floor and outline of each room of a list as drawn: whether it has floor
# sectors and they are drawn, and whether its outline is dashed.
FLIP_JS = """
const out = {};
for (const n of arguments[0]) {
  const g = document.getElementById('room-' + n);
  const floor = g.querySelector(':scope > .floor');
  const rect = floor ? floor.getBoundingClientRect() : null;
  const dash = getComputedStyle(g.querySelector(':scope > rect.outline')).strokeDasharray;
  out[n] = {hasFloor: !!floor && !!floor.querySelector('rect'),
            floorDrawn: !!rect && (rect.width > 0 || rect.height > 0), dashed: dash !== 'none' && dash !== ''};
}
return out;
"""

# Whether a number or an item mark lies at the client point.
COVERED_JS = """
return document.elementsFromPoint(arguments[0], arguments[1]).some((e) => e.closest('.label, .item'));
"""


def press(driver, button, times=1):
    """Clicks a button of the page times times in one call."""
    driver.execute_script("for (let k = 0; k < arguments[1]; ++k) document.getElementById(arguments[0]).click();",
                          button, times)


def inside_window(box, window, slack=0.5):
    return box[0] >= -slack and box[1] >= -slack and box[2] <= window[0] + slack and box[3] <= window[1] + slack


def check_legend(driver, label, every_step):
    """The legend stands under the picture in view after zooms, a drag and
    scrolls (every_step: else after the first two only, as the view's steps
    are the same on every level)."""
    from selenium.webdriver.common.action_chains import ActionChains
    state = driver.execute_script(LEGEND_JS)
    if state["box"] is None:
        return
    check(state["barShown"] and not state["inPicture"], f"{label}: the legend is still inside the picture")
    svg = driver.find_element("css selector", "#view > svg")
    steps = [("fit", lambda: press(driver, "zoom-fit")),
             ("zoomed in", lambda: press(driver, "zoom-in", 5)),
             ("dragged", lambda: ActionChains(driver, duration=0).move_to_element(svg).click_and_hold()
                 .move_by_offset(-200, -150).release().perform()),
             ("zoomed out", lambda: press(driver, "zoom-out", 9)),
             ("scrolled", lambda: driver.execute_script(
                 "scrollTo(0, 100000); document.getElementById('view').scrollTop = 100000;")),
             ("wheel", lambda: driver.execute_cdp_cmd("Input.dispatchMouseEvent", {
                 "type": "mouseWheel", "x": 300, "y": 300, "deltaX": 0, "deltaY": -600}))]
    for what, step in steps if every_step else steps[:2]:
        step()
        state = driver.execute_script(LEGEND_JS)
        box = state["box"]
        check(box[2] - box[0] > 20 and inside_window(box, state["window"]),
              f"{label}: {what}: the legend at {box} is outside the window {state['window']}")
    driver.find_element("id", "zoom-fit").click()


def check_label_sizes(driver, label):
    """At fit and zoomed in and out, every number shown is at least 10 px
    high on screen and none covers another; at the picture's own scale or
    nearer every number shows."""
    def look(what):
        state = driver.execute_script(LABELS_JS)
        # A tenth of a pixel for the measure's rounding.
        small = [(l["room"], round(l["px"], 2)) for l in state["labels"] if l["px"] < 9.9]
        check(not small, f"{label}: {what}: numbers smaller than 10 px: {small[:5]}")
        boxes = state["labels"]
        for i, a in enumerate(boxes):
            for b in boxes[i + 1:]:
                w = min(a["box"][2], b["box"][2]) - max(a["box"][0], b["box"][0])
                h = min(a["box"][3], b["box"][3]) - max(a["box"][1], b["box"][1])
                if w > 1.5 and h > 1.5:
                    check(False, f"{label}: {what}: the numbers of rooms {a['room']} and {b['room']} overlap")
                    return state
        return state
    press(driver, "zoom-fit")
    fit = look("fit")
    if not fit["labels"] and not fit["crowded"]:
        return
    check(fit["labels"], f"{label}: fit: no room number shown")
    press(driver, "zoom-out", 3)
    look("zoomed out")
    press(driver, "zoom-fit")
    # In until a picture pixel is a screen pixel or more: then every number shows.
    press(driver, "zoom-in", max(0, math.ceil(math.log(1 / fit["scale"]) / math.log(1.5))))
    near = look("zoomed in")
    check(near["scale"] >= 1 - 1e-9, f"{label}: zoomed in to a scale of {near['scale']}")
    check(near["crowded"] == 0, f"{label}: zoomed in: {near['crowded']} numbers still left out")
    press(driver, "zoom-in", 4)
    look("zoomed in further")
    press(driver, "zoom-fit")


def storey_counts(table):
    counts = {}
    for row in table:
        counts[row["storey"]] = counts.get(row["storey"], 0) + 1
    return counts


def check_picker(driver, label, table):
    """Each storey's entry says how many rooms of the range it holds."""
    from selenium.webdriver.support.ui import Select
    texts = [o.text for o in Select(driver.find_element("id", "storey")).options]
    counts = storey_counts(table)
    rooms = lambda n: "1 room" if n == 1 else f"{n} rooms"
    storeys = [t for t in texts if not t.startswith("All storeys")]
    numbers = sorted(counts)
    if driver.execute_script(STATE_JS)["panels"] == 0:
        # A picture without panels (a page made by hand): one storey of all rooms.
        check(texts == [f"Storey 1 (the whole map), {rooms(len(table))}"], f"{label}: picker {texts}")
        return
    check(len(storeys) == len(numbers), f"{label}: picker {texts} for storeys {numbers}")
    for text, n in zip(storeys, numbers):
        check(text.startswith(f"Storey {n} (y ") and text.endswith(f"), {rooms(counts[n])}"),
              f"{label}: picker entry {text!r}, storey {n} holds {counts[n]} rooms")
    if len(numbers) > 1:
        check(texts[-1] == f"All storeys, {rooms(len(table))}", f"{label}: picker's last entry {texts[-1]!r}")


def hover_at(driver, x, y):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.actions.action_builder import ActionBuilder
    actions = ActionBuilder(driver, duration=0)
    actions.pointer_action.move_to_location(int(round(x)), int(round(y)))
    actions.perform()
    ActionChains(driver, duration=0).pause(0.05).perform()
    from map_page_checks import INFO_JS
    return driver.execute_script(INFO_JS)


def check_point_hover(driver, label, table, most=2):
    """Hovering sectors of a few rooms (searched, so drawn large) shows the
    world x and z under the pointer and the sector: its column and row in the
    room's grid and the world sector, as the room's place gives them. The
    table gives a room's place in whole sectors: rooms placed between sectors
    (the generated sample levels) are left out."""
    checked = 0
    for row in sorted(table, key=lambda r: (-r["sizeX"] * r["sizeZ"], r["room"])):
        if checked >= most:
            break
        n, sx, sz = row["room"], row["sizeX"], row["sizeZ"]
        if sx < 3 or sz < 3 or driver.execute_script(GRID_JS, str(n)) != [row["x"], row["z"]]:
            continue
        search(driver, n)
        driver.find_element("tag name", "body").send_keys("\ue00c")
        # Sectors inside the ring: its middle and two corners.
        for col, rw in {(sx // 2, sz // 2), (1, 1), (sx - 2, sz - 2)}:
            x, y, per_unit, shown = driver.execute_script(SECTOR_POINT_JS, str(n), row["x"] + col + 0.5, -(row["z"] + rw + 0.5))
            if not shown:
                continue
            info = hover_at(driver, x, y)
            if info["heading"] != f"Room {n}":
                continue  # another room's floor or number lies there
            rows = info["rows"]
            want_sector = f"column {col}, row {rw} (world sector {row['x'] + col}s, {row['z'] + rw}s)"
            check(rows.get("Sector") == want_sector,
                  f"{label}: room {n}, sector {col},{rw}: the box says {rows.get('Sector')!r}, not {want_sector!r}")
            point = rows.get("Point", "")
            try:
                px, pz = (int(part.split()[1]) for part in point.split(", "))
            except (ValueError, IndexError):
                check(False, f"{label}: room {n}, sector {col},{rw}: the point reads {point!r}")
                continue
            # Half a screen pixel from the sector's centre at most (the pointer stands on whole pixels).
            slack = SECTOR / per_unit + 1
            want_x, want_z = (row["x"] + col + 0.5) * SECTOR, (row["z"] + rw + 0.5) * SECTOR
            check(abs(px - want_x) <= slack and abs(pz - want_z) <= slack,
                  f"{label}: room {n}, sector {col},{rw}: the point {px},{pz}, the centre is {want_x:.0f},{want_z:.0f}")
            checked += 1
    return checked
    driver.find_element("tag name", "body").send_keys("\ue00c")


def flip_pairs(table):
    """(original, flip room) of the range: the first room naming a room as its alternate."""
    drawn = {r["room"] for r in table}
    pairs, seen = [], set()
    for r in table:
        a = r["alternate"]
        if a >= 0 and a in drawn and a != r["room"] and a not in seen:
            seen.add(a)
            pairs.append((r["room"], a))
    return pairs


def check_flipped(driver, label, table):
    """The toggle shows the flipped state: each flip room filled in place of
    its original, the original dashed, and hovering the place shows the
    room filled there; off again, the normal state."""
    box = driver.find_element("id", "flipped")
    pairs = flip_pairs(table)
    check(box.is_enabled() == bool(pairs), f"{label}: the flipped state's toggle enabled is {box.is_enabled()}")
    if not pairs:
        return
    state = driver.execute_script(STATE_JS)
    select_storey(driver, "all" if "all" in state["options"] else state["options"][0])

    def look(flipped):
        what = "flipped" if flipped else "normal"
        drawn = driver.execute_script(FLIP_JS, [str(n) for pair in pairs for n in pair])
        for original, flip in pairs:
            o, f = drawn[str(original)], drawn[str(flip)]
            shown, dashed = (f, o) if flipped else (o, f)
            check((shown["floorDrawn"] or not shown["hasFloor"]) and not shown["dashed"],
                  f"{label}: {what} state: room {flip if flipped else original} is not filled: {shown}")
            check(dashed["dashed"] and not dashed["floorDrawn"],
                  f"{label}: {what} state: room {original if flipped else flip} is not a dashed outline: {dashed}")
    look(False)
    box.click()
    look(True)
    box.click()
    look(False)
    check_flipped_hover(driver, label, table, pairs[:1])


def check_flipped_hover(driver, label, table, pairs):
    """Inside the place of a flip pair (clear of numbers and marks) the
    pointer finds the original in the normal state, the flip room in the
    flipped one."""
    rows = {r["room"]: r for r in table}
    box = driver.find_element("id", "flipped")
    for original, flip in pairs:
        r = rows[flip]
        search(driver, original)
        driver.find_element("tag name", "body").send_keys("\ue00c")
        points = [(r["x"] + c + 0.5, -(r["z"] + w + 0.5)) for c in range(1, r["sizeX"] - 1) for w in range(1, r["sizeZ"] - 1)]
        for u, v in points[::max(1, len(points) // 8)]:
            x, y, _, shown = driver.execute_script(SECTOR_POINT_JS, str(flip), u, v)
            if not shown or driver.execute_script(COVERED_JS, x, y) or hover_at(driver, x, y)["heading"] != f"Room {original}":
                continue
            box.click()
            heading = hover_at(driver, x, y)["heading"]
            box.click()
            check(heading == f"Room {flip}", f"{label}: flipped state: {heading} under the pointer, not room {flip}")
            break
    driver.find_element("tag name", "body").send_keys("\ue00c")


def check_framed(driver, label, slack=0.5):
    """At fit the rooms fill the view's width or height (far items never widen the frame)."""
    state = driver.execute_script(STATE_JS)
    select_storey(driver, state["options"][0])
    press(driver, "zoom-fit")
    state = driver.execute_script(STATE_JS)
    boxes = [r["box"] for r in state["rooms"].values() if r["drawn"]]
    if not boxes:
        return
    view = state["view"]
    w = max(b[2] for b in boxes) - min(b[0] for b in boxes)
    h = max(b[3] for b in boxes) - min(b[1] for b in boxes)
    check(w >= slack * (view[2] - view[0]) or h >= slack * (view[3] - view[1]),
          f"{label}: the rooms take {w:.0f} x {h:.0f} px of a view {view[2] - view[0]:.0f} x {view[3] - view[1]:.0f}")
