// The map page's script: the storey picker, zoom and pan (wheel, drag, pinch
// and buttons), the room details on hover or tap, the room search, the
// flipped state and the items toggle. It reads the room facts from the page's
// JSON block and finds the rooms in the picture by their groups (class
// "room", data-room or the id "room-N"); a picture without storey panels is
// one storey. The view helpers (MapView) come before it (pageview.cpp).
#include "pageassets.h"

namespace qm {

const char* const PageScript = R"js((() => {
  const facts = JSON.parse(document.getElementById("map-facts").textContent);
  const factsOf = new Map(facts.rooms.map((r) => [String(r.room), r]));
  const svg = document.querySelector("#view > svg");
  const info = document.getElementById("info");
  const picker = document.getElementById("storey");
  const searchBox = document.getElementById("room-number");
  const note = document.getElementById("find-note");
  const flippedBox = document.getElementById("flipped");
  const itemsBox = document.getElementById("show-items");
  if (!svg) return;
  MapView.dockLegend(svg, document.getElementById("legend-bar"));

  // The rooms by number, and the storeys: the picture's panels, or the whole
  // picture as one.
  const rooms = new Map();
  for (const g of svg.querySelectorAll("g.room")) {
    const n = g.dataset.room ?? g.id.replace(/^room-/, "");
    if (/^\d+$/.test(n)) rooms.set(String(Number(n)), g);
    // The details box replaces the browser's tooltip; the title stays as the label.
    const title = g.querySelector(":scope > title");
    if (title) { g.setAttribute("aria-label", title.textContent); title.remove(); }
  }
  const panels = Array.from(svg.querySelectorAll("g.storey"));
  const storeyOf = (g) => (panels.length ? panels.indexOf(g.closest("g.storey")) : 0);
  // Labels and marks outside the room groups follow their room: hidden with
  // its storey.
  const loose = Array.from(svg.querySelectorAll(".item[data-room], .label[data-room]"))
    .filter((el) => !el.closest("g.room"));

  // The view: the picture's viewBox, moved and scaled.
  const base = svg.viewBox.baseVal;
  const whole = base && base.width > 0
    ? { x: base.x, y: base.y, w: base.width, h: base.height }
    : { x: 0, y: 0, w: svg.width.baseVal.value || 1, h: svg.height.baseVal.value || 1 };
  let box = { ...whole };
  const sizeLabels = MapView.labelSizer(svg, (n) => {
    const f = factsOf.get(String(Number(n)));
    return f ? f.sizeX * f.sizeZ : 0;
  });
  const viewScale = () => (svg.getScreenCTM() || { a: 0 }).a;
  const apply = () => {
    svg.setAttribute("viewBox", `${box.x} ${box.y} ${box.w} ${box.h}`);
    sizeLabels(viewScale());
  };
  const toUser = (x, y) => new DOMPoint(x, y).matrixTransform(svg.getScreenCTM().inverse());
  // An element's box in the picture's units; null when it is not drawn.
  const userBox = (el) => {
    const r = el.getBoundingClientRect();
    if (r.width === 0 && r.height === 0) return null;
    const p = toUser(r.left, r.top), q = toUser(r.right, r.bottom);
    return { x: Math.min(p.x, q.x), y: Math.min(p.y, q.y), w: Math.abs(q.x - p.x), h: Math.abs(q.y - p.y) };
  };
  const show = (b, pad) => {
    const m = Math.max(b.w, b.h) * pad;
    box = { x: b.x - m, y: b.y - m, w: Math.max(b.w + 2 * m, 1e-6), h: Math.max(b.h + 2 * m, 1e-6) };
    apply();
  };
  const zoom = (factor, cx = box.x + box.w / 2, cy = box.y + box.h / 2) => {
    const w = Math.min(Math.max(box.w / factor, whole.w / 2000), whole.w * 20);
    const f = box.w / w;
    box = { x: cx - (cx - box.x) / f, y: cy - (cy - box.y) / f, w, h: box.h / f };
    apply();
  };

  // The storey shown: an index of the panels, or "all".
  let current = 0;
  const showLoose = () => {
    for (const el of loose) {
      const g = rooms.get(String(Number(el.dataset.room)));
      const k = g ? storeyOf(g) : -1;
      const away = current !== "all" && k >= 0 && k !== current;
      el.classList.toggle("off", away);
    }
  };
  const fitStorey = () => {
    const b = current === "all" || !panels.length ? null : userBox(panels[current]);
    if (b) show(b, 0.03);
    else show(whole, 0);
  };
  const selectStorey = (value) => {
    current = value;
    picker.value = String(value);
    panels.forEach((p, k) => p.classList.toggle("off", value !== "all" && k !== value));
    showLoose();
    fitStorey();
    sizeLabels(viewScale(), true);
  };
  // Each storey with its height range and how many rooms it holds.
  const roomCount = (n) => (n === 1 ? "1 room" : `${n} rooms`);
  const storeyLabel = (p, k) => {
    const low = p.dataset.low, high = p.dataset.high;
    return `Storey ${p.dataset.storey ?? k + 1}` + (low !== undefined && high !== undefined ? ` (y ${low} to ${high})` : "") +
           `, ${roomCount(p.querySelectorAll("g.room").length)}`;
  };
  if (panels.length) {
    panels.forEach((p, k) => picker.add(new Option(storeyLabel(p, k), String(k))));
    if (panels.length > 1) picker.add(new Option(`All storeys, ${roomCount(rooms.size)}`, "all"));
  } else {
    picker.add(new Option(`Storey 1 (the whole map), ${roomCount(rooms.size)}`, "0"));
  }
  picker.addEventListener("change", () => selectStorey(picker.value === "all" ? "all" : Number(picker.value)));

  // The details of a room, as the room table gives them.
  let pinned = null;
  const cell = (row, text) => { const td = document.createElement("td"); td.textContent = text; row.append(td); };
  const describe = (n, at) => {
    const f = factsOf.get(String(n));
    info.replaceChildren();
    const h = document.createElement("h2");
    h.textContent = `Room ${n}`;
    info.append(h);
    if (!f) return;
    const flags = "0x" + f.flags.toString(16).toUpperCase().padStart(4, "0");
    const rows = [
      ...MapView.pointRows(at),
      ["Position", `x ${f.x}, z ${f.z} (sectors)`],
      ["Size", `${f.sizeX} \u00d7 ${f.sizeZ} sectors`],
      ["Floor", f.floor],
      ["Ceiling", f.ceiling],
      ["Flags", `${flags} (${f.flagNames.length ? f.flagNames.join(", ") : f.flags ? "no named flag" : "none"})`],
      ["Light", f.light],
    ];
    if (f.colour !== undefined) rows.push(["Colour", f.colour]);
    rows.push(["Flip room", f.alternate >= 0 ? f.alternate : "none"]);
    if (f.flipOf !== undefined) rows.push(["Flip room of", f.flipOf]);
    rows.push(["Vertices", f.vertices], ["Rectangles", f.rectangles], ["Triangles", f.triangles],
              ["Sprites", f.sprites], ["Portals", f.portals], ["Lights", f.lights], ["Statics", f.statics]);
    if (facts.items) rows.push(["Items", f.items.length]);
    const table = document.createElement("table");
    for (const [name, value] of rows) {
      const tr = table.insertRow();
      const th = document.createElement("th");
      th.textContent = name;
      tr.append(th);
      cell(tr, String(value));
    }
    info.append(table);
    if (facts.items && f.items.length) {
      const list = document.createElement("ul");
      for (const it of f.items.slice(0, 12)) {
        const li = document.createElement("li");
        li.textContent = `Item ${it.index}: ${it.name} (type ${it.type})`;
        list.append(li);
      }
      if (f.items.length > 12) {
        const li = document.createElement("li");
        li.textContent = `and ${f.items.length - 12} more`;
        list.append(li);
      }
      info.append(list);
    }
  };
  const place = (x, y) => {
    if (x === undefined) { info.style.left = info.style.top = ""; return; }
    const w = info.offsetWidth, h = info.offsetHeight;
    info.style.left = `${Math.max(4, Math.min(x + 16, innerWidth - w - 4))}px`;
    info.style.top = `${Math.max(4, Math.min(y + 16, innerHeight - h - 4))}px`;
  };
  // at: the point under the pointer and its sector (MapView.pointIn), if any.
  const showInfo = (n, x, y, at) => { describe(n, at); info.hidden = false; place(x, y); };
  const numberOf = (g) => g.dataset.room ?? [...rooms].find(([, v]) => v === g)?.[0];
  // The room under a client point (a number, a floor, a room's grid), marked as hovered.
  const labelRoom = (label) => rooms.get(String(Number(label.dataset.room))) || null;
  let hovered = null;
  const roomUnder = (x, y) => {
    const g = MapView.roomUnder(x, y, labelRoom);
    if (g !== hovered) {
      if (hovered) hovered.classList.remove("hover");
      if (g) g.classList.add("hover");
      hovered = g;
    }
    return g;
  };
  const hover = (e) => {
    const g = roomUnder(e.clientX, e.clientY);
    if (g) showInfo(numberOf(g), e.clientX, e.clientY, MapView.pointIn(g, e.clientX, e.clientY));
    else if (pinned !== null) showInfo(pinned);
    else info.hidden = true;
  };
  svg.addEventListener("pointerleave", () => {
    if (hovered) hovered.classList.remove("hover");
    hovered = null;
    if (pinned !== null) showInfo(pinned); else info.hidden = true;
  });

  // Wheel, drag and pinch.
  svg.addEventListener("wheel", (e) => {
    e.preventDefault();
    const p = toUser(e.clientX, e.clientY);
    const step = e.deltaMode === 1 ? 16 : e.deltaMode === 2 ? 400 : 1;
    zoom(Math.exp(-e.deltaY * step * 0.0015), p.x, p.y);
  }, { passive: false });
  const pointers = new Map();
  let travel = 0;
  svg.addEventListener("pointerdown", (e) => {
    if (e.button !== 0) return;
    svg.setPointerCapture(e.pointerId);
    pointers.set(e.pointerId, { x: e.clientX, y: e.clientY });
    if (pointers.size === 1) travel = 0;
    svg.classList.add("dragging");
  });
  svg.addEventListener("pointermove", (e) => {
    const last = pointers.get(e.pointerId);
    if (!last) { hover(e); return; }
    const dx = e.clientX - last.x, dy = e.clientY - last.y;
    travel += Math.abs(dx) + Math.abs(dy);
    if (pointers.size === 1) {
      const scale = svg.getScreenCTM().a || 1;
      box = { ...box, x: box.x - dx / scale, y: box.y - dy / scale };
      apply();
    } else if (pointers.size === 2) {
      const other = [...pointers].find(([id]) => id !== e.pointerId)[1];
      const before = Math.hypot(last.x - other.x, last.y - other.y);
      const after = Math.hypot(e.clientX - other.x, e.clientY - other.y);
      if (before > 0 && after > 0) {
        const p = toUser((e.clientX + other.x) / 2, (e.clientY + other.y) / 2);
        zoom(after / before, p.x, p.y);
      }
    }
    pointers.set(e.pointerId, { x: e.clientX, y: e.clientY });
  });
  const release = (e) => {
    if (!pointers.delete(e.pointerId)) return;
    if (pointers.size === 0) svg.classList.remove("dragging");
    // A tap: the room under it stays shown until a tap beside the rooms.
    if (e.type === "pointerup" && pointers.size === 0 && travel < 6) {
      const g = roomUnder(e.clientX, e.clientY);
      pinned = g ? numberOf(g) : null;
      if (pinned !== null) showInfo(pinned, e.clientX, e.clientY, MapView.pointIn(g, e.clientX, e.clientY));
      else info.hidden = true;
    }
  };
  svg.addEventListener("pointerup", release);
  svg.addEventListener("pointercancel", release);

  document.getElementById("zoom-in").addEventListener("click", () => zoom(1.5));
  document.getElementById("zoom-out").addEventListener("click", () => zoom(1 / 1.5));
  document.getElementById("zoom-fit").addEventListener("click", fitStorey);

  // The search: the room's storey, the room in the middle, marked.
  const centre = (g) => {
    const b = userBox(g.querySelector("rect.outline") || g);
    if (!b) return;
    const f = Math.max(b.w / box.w, b.h / box.h, 1e-9) * 4;
    const w = Math.min(box.w * f, whole.w * 20), h = Math.min(box.h * f, whole.h * 20);
    box = { x: b.x + b.w / 2 - w / 2, y: b.y + b.h / 2 - h / 2, w, h };
    apply();
  };
  const find = (text) => {
    if (!/^\s*\d+\s*$/.test(text)) { note.textContent = "Type a room number."; return; }
    const n = String(Number(text));
    const g = rooms.get(n);
    if (!g) { note.textContent = `Room ${n} is not on this map.`; return; }
    const k = storeyOf(g);
    if (current !== "all" && k >= 0 && k !== current) selectStorey(k);
    for (const old of svg.querySelectorAll("g.room.found")) old.classList.remove("found");
    g.classList.add("found");
    centre(g);
    pinned = n;
    showInfo(n);
    note.textContent = `Room ${n}` + (panels.length > 1 && k >= 0 ? `, storey ${k + 1}` : "");
  };
  document.getElementById("find").addEventListener("submit", (e) => { e.preventDefault(); find(searchBox.value); });

  // The flipped state (each flip room filled in place of its original, the
  // original then dashed as the flip room is in the normal state) and the
  // items toggle.
  const setToggles = () => {
    document.body.classList.toggle("flipped", flippedBox.checked);
    document.body.classList.toggle("no-items", !itemsBox.checked);
    showLoose();
  };
  const flips = Array.from(svg.querySelectorAll("g.room.flip"));
  for (const g of flips) {
    const f = factsOf.get(numberOf(g));
    const original = f && f.flipOf !== undefined ? rooms.get(String(f.flipOf)) : null;
    if (original && original !== g) original.classList.add("original");
    const dash = g.querySelector(":scope > rect.outline")?.getAttribute("stroke-dasharray");
    if (dash && !svg.style.getPropertyValue("--flip-dash")) svg.style.setProperty("--flip-dash", dash);
  }
  flippedBox.addEventListener("change", setToggles);
  itemsBox.addEventListener("change", setToggles);
  if (!flips.length) flippedBox.disabled = true;
  if (!svg.querySelector(".item")) { itemsBox.checked = false; itemsBox.disabled = true; }
  flippedBox.checked = false;
  setToggles();

  document.addEventListener("keydown", (e) => {
    if (e.target === searchBox) return;
    if (e.key === "+" || e.key === "=") zoom(1.5);
    else if (e.key === "-") zoom(1 / 1.5);
    else if (e.key === "Escape") { pinned = null; info.hidden = true; }
  });
  // Printed, the page shows the whole of the storey shown; the view comes
  // back afterwards.
  let beforePrint = null;
  const printing = (on) => {
    if (on && !beforePrint) { beforePrint = { ...box }; fitStorey(); }
    else if (!on && beforePrint) { box = beforePrint; beforePrint = null; apply(); }
  };
  addEventListener("beforeprint", () => printing(true));
  addEventListener("afterprint", () => printing(false));
  matchMedia("print").addEventListener("change", (e) => printing(e.matches));
  addEventListener("resize", () => sizeLabels(viewScale()));
  selectStorey(0);
})();
)js";

} // namespace qm
