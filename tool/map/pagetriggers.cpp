// The map page's triggers: its own style and script, beside the page's main
// script and apart from it. The script reads the table of triggered sectors
// ("triggers" of the page's JSON block), adds to the details box the triggers
// of the sector under the pointer, and marks the sectors whose triggers name
// the item chosen (its mark clicked, or its number typed in a box it adds to
// the controls).
#include "pageassets.h"

namespace qm {

const char* const PageTriggerStyle = R"css(#info h3.trigger { font-size: 13px; margin: .45rem 0 .1rem; color: #b0003a; }
#info .trigger-line { margin: 0; }
#info .trigger-action { margin: 0 0 0 1.1rem; }
#item-find { display: flex; gap: .25rem; }
#item-note { color: #555; min-width: 8rem; }
.room > rect.trigger-found { fill: #ffd400; fill-opacity: .85; stroke: #b0003a; stroke-width: 3px;
                             vector-effect: non-scaling-stroke; pointer-events: none; }
)css";

const char* const PageTriggerScript = R"js("use strict";
(() => {
  const block = document.getElementById("map-facts");
  const svg = document.querySelector("#view > svg");
  const info = document.getElementById("info");
  const controls = document.getElementById("controls");
  if (!block || !svg || !info) return;
  const triggers = JSON.parse(block.textContent).triggers || [];
  const sectorUnits = 1024;

  // The triggers by room, and by item the triggers that name it (object and
  // look-at actions carry "item").
  const inRoom = new Map(), naming = new Map();
  for (const t of triggers) {
    if (!inRoom.has(t.room)) inRoom.set(t.room, []);
    inRoom.get(t.room).push(t);
    for (const a of t.actions) {
      if (a.item === undefined) continue;
      if (!naming.has(a.item)) naming.set(a.item, []);
      const list = naming.get(a.item);
      if (!list.includes(t)) list.push(t);
    }
  }

  // A room's triggers whose sector holds the client point: the room group's
  // parent draws one unit a sector, z up.
  const triggersAt = (g, x, y) => {
    const list = inRoom.get(Number(g.dataset.room));
    const frame = g.parentNode;
    if (!list || !frame || !frame.getScreenCTM || !frame.getScreenCTM()) return [];
    const p = new DOMPoint(x, y).matrixTransform(frame.getScreenCTM().inverse());
    const wx = p.x * sectorUnits, wz = -p.y * sectorUnits;
    return list.filter((t) => wx >= t.x && wx < t.x + sectorUnits && wz >= t.z && wz < t.z + sectorUnits);
  };

  // As /ShowTriggers writes them: "Pad, timer 0, once no, mask 12345" and
  // "Object 4 Door_1".
  const maskText = (m) => [0, 1, 2, 3, 4].map((k) => ((m >> k) & 1 ? String(k + 1) : "-")).join("");
  const triggerLine = (t) => `${t.type}, timer ${t.timer}, once ${t.once ? "yes" : "no"}, mask ${maskText(t.mask)}`;
  const actionText = (a) => {
    const value = Object.entries(a).find(([key]) => key !== "action");
    const text = `${a.action} ${value ? value[1] : ""}`;
    return a.item !== undefined && a.name ? `${text} ${a.name}` : text;
  };
  const line = (tag, cls, text) => {
    const el = document.createElement(tag);
    el.className = cls;
    el.textContent = text;
    return el;
  };
  const listTriggers = (list) => {
    for (const t of list) {
      info.append(line("h3", "trigger", `Trigger, sector ${t.column},${t.row} (x ${t.x}, z ${t.z})`),
                  line("p", "trigger-line", triggerLine(t)));
      for (const a of t.actions) info.append(line("div", "trigger-action", actionText(a)));
    }
    // The box grew: kept inside the window.
    const r = info.getBoundingClientRect();
    if (r.bottom > innerHeight - 4) info.style.top = `${Math.max(4, innerHeight - 4 - r.height)}px`;
  };

  // The page's own pointer handling has filled the box for the room under
  // the pointer by now (its listener came first): the sector's triggers go under it.
  svg.addEventListener("pointermove", (e) => {
    if (e.buttons || info.hidden || !e.target.closest) return;
    const g = e.target.closest("g.room");
    if (!g) return;
    const list = triggersAt(g, e.clientX, e.clientY);
    if (list.length) listTriggers(list);
  });

  // The item chosen: the sectors whose triggers name it, marked in their rooms.
  const found = [];
  const form = document.createElement("form");
  form.id = "item-find";
  form.setAttribute("role", "search");
  const box = document.createElement("input");
  Object.assign(box, { id: "item-number", type: "search", placeholder: "Item number", size: 10 });
  box.setAttribute("inputmode", "numeric");
  box.setAttribute("aria-label", "Item number");
  const button = document.createElement("button");
  button.type = "submit";
  button.textContent = "Triggers";
  form.append(box, button);
  const note = line("span", "", "");
  note.id = "item-note";
  note.setAttribute("role", "status");
  if (controls) controls.append(form, note);

  const clear = () => { for (const r of found.splice(0)) r.remove(); };
  const storeyPicker = document.getElementById("storey");
  const panels = Array.from(svg.querySelectorAll("g.storey"));
  const choose = (n) => {
    clear();
    const list = naming.get(n) || [];
    for (const t of list) {
      const g = document.getElementById(`room-${t.room}`);
      if (!g) continue;
      const r = document.createElementNS(svg.namespaceURI, "rect");
      r.setAttribute("class", "trigger-found");
      r.setAttribute("x", String(t.x / sectorUnits));
      r.setAttribute("y", String(-(t.z / sectorUnits + 1)));
      r.setAttribute("width", "1");
      r.setAttribute("height", "1");
      Object.assign(r.dataset, { room: t.room, column: t.column, row: t.row });
      g.append(r);
      found.push(r);
    }
    const sectors = new Set(found.map((r) => `${r.dataset.room} ${r.dataset.column} ${r.dataset.row}`)).size;
    note.textContent = list.length
      ? `Item ${n}: ${list.length} ${list.length === 1 ? "trigger" : "triggers"}, ${sectors} ${sectors === 1 ? "sector" : "sectors"}`
      : `Item ${n} is named by no trigger.`;
    // The storey shown holds none of them: the storey of the first.
    if (!found.length || !storeyPicker || storeyPicker.value === "all" || !panels.length) return;
    const storeys = found.map((r) => panels.indexOf(r.closest("g.storey")));
    if (!storeys.includes(Number(storeyPicker.value)) && storeys[0] >= 0) {
      storeyPicker.value = String(storeys[0]);
      storeyPicker.dispatchEvent(new Event("change"));
    }
  };
  form.addEventListener("submit", (e) => {
    e.preventDefault();
    if (/^\s*\d+\s*$/.test(box.value)) choose(Number(box.value));
    else { clear(); note.textContent = "Type an item number."; }
  });

  // A click on an item's mark chooses it (a drag does not).
  let down = null;
  svg.addEventListener("pointerdown", (e) => { down = { x: e.clientX, y: e.clientY }; });
  svg.addEventListener("pointerup", (e) => {
    const tap = down && Math.abs(e.clientX - down.x) + Math.abs(e.clientY - down.y) < 6;
    down = null;
    const hit = tap ? document.elementFromPoint(e.clientX, e.clientY) : null;
    const mark = hit && hit.closest ? hit.closest(".item[data-item]") : null;
    if (mark) {
      box.value = mark.dataset.item;
      choose(Number(mark.dataset.item));
    }
  });
})();
)js";

} // namespace qm
