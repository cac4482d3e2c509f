// The map page's view helpers, ahead of its main script (pagescript.cpp) in
// the same script element: the legend docked under the picture, the room
// numbers kept readable at every zoom, the room under the pointer and the
// world point and sector there. Each takes what it works on as arguments.
#include "pageassets.h"

namespace qm {

const char* const PageViewScript = R"js("use strict";
const MapView = (() => {
  const SectorUnits = 1024;

  // The legend groups (the picture's top-level groups whose id ends in
  // "legend") moved out of the picture into the bar under it, at their own
  // size: the legend stays in view whatever the zoom and pan. The bar is
  // hidden when the picture has no legend.
  const dockLegend = (svg, bar) => {
    const parts = Array.from(svg.querySelectorAll(":scope > g[id$='legend']"));
    let x0 = Infinity, y0 = Infinity, x1 = -Infinity, y1 = -Infinity;
    for (const g of parts) {
      const b = g.getBBox();
      if (b.width === 0 && b.height === 0) continue;
      x0 = Math.min(x0, b.x), y0 = Math.min(y0, b.y);
      x1 = Math.max(x1, b.x + b.width), y1 = Math.max(y1, b.y + b.height);
    }
    if (!(x1 > x0 && y1 > y0)) { bar.hidden = true; return null; }
    const pad = 3, w = x1 - x0 + 2 * pad, h = y1 - y0 + 2 * pad;
    const dock = document.createElementNS(svg.namespaceURI, "svg");
    dock.setAttribute("viewBox", `${x0 - pad} ${y0 - pad} ${w} ${h}`);
    dock.setAttribute("width", String(w));
    dock.setAttribute("height", String(h));
    dock.setAttribute("font-family", svg.getAttribute("font-family") || "sans-serif");
    dock.setAttribute("role", "img");
    dock.setAttribute("aria-label", "Legend");
    dock.append(...parts);
    bar.append(dock);
    return dock;
  };

  // The room numbers at a readable size. On screen a number is its size in
  // the picture times the view's scale, kept from least to most pixels:
  // enlarged when the view is zoomed out, held when zoomed far in. Enlarged,
  // numbers that would cover each other are left out (class "crowded", with
  // their leader lines), a larger room's kept first, until the view is zoomed
  // in again. The picture placed them apart at its own size, so at that size
  // or smaller all of them show. Returns the function to call with the
  // view's scale (screen pixels per picture pixel) after every change of the
  // view or of what is shown; force: lay out again at the same scale.
  const labelSizer = (svg, areaOf, least = 10, most = 16) => {
    const texts = Array.from(svg.querySelectorAll("text.label[data-room]"));
    const leaders = new Map();
    for (const line of svg.querySelectorAll("line.leader[data-room]")) leaders.set(line.dataset.room, line);
    const natural = texts.length ? parseFloat(getComputedStyle(texts[0]).fontSize) || 11 : 11;
    const labels = texts.map((text) => {
      const [x, y, w, h] = (text.dataset.box || "").split(/\s+/).map(Number);
      const box = [x, y, w, h].every(Number.isFinite) ? { x, y, w, h } : null;
      return { text, box, leader: leaders.get(text.dataset.room) || null, area: areaOf(text.dataset.room) };
    });
    labels.sort((a, b) => b.area - a.area || Number(a.text.dataset.room) - Number(b.text.dataset.room));
    let last = NaN;
    const crowd = (label, on) => {
      label.text.classList.toggle("crowded", on);
      if (label.leader) label.leader.classList.toggle("crowded", on);
    };
    const declutter = (k) => {
      // A grid of cells as large as the largest enlarged box: a box meets
      // only the boxes of the cells it covers.
      let cell = 1;
      for (const l of labels) if (l.box) cell = Math.max(cell, l.box.w * k, l.box.h * k);
      const grid = new Map();
      const cellsOf = (b, visit) => {
        for (let i = Math.floor(b.x0 / cell); i <= Math.floor(b.x1 / cell); ++i)
          for (let j = Math.floor(b.y0 / cell); j <= Math.floor(b.y1 / cell); ++j)
            if (visit(`${i},${j}`) === false) return false;
        return true;
      };
      for (const l of labels) {
        if (!l.box || l.text.closest(".off")) { crowd(l, false); continue; }
        const cx = l.box.x + l.box.w / 2, cy = l.box.y + l.box.h / 2;
        const b = { x0: cx - l.box.w * k / 2, y0: cy - l.box.h * k / 2, x1: cx + l.box.w * k / 2, y1: cy + l.box.h * k / 2 };
        const free = cellsOf(b, (key) => !(grid.get(key) || []).some((o) =>
          b.x0 < o.x1 && o.x0 < b.x1 && b.y0 < o.y1 && o.y0 < b.y1));
        crowd(l, !free);
        if (free) cellsOf(b, (key) => { if (!grid.has(key)) grid.set(key, []); grid.get(key).push(b); });
      }
    };
    return (scale, force = false) => {
      if (!(scale > 0)) return;
      const k = Math.min(Math.max(natural * scale, least), most) / (natural * scale);
      svg.style.setProperty("--label-scale", String(k));
      if (!force && Math.abs(k - last) <= 1e-3 * last) return;
      last = k;
      if (k > 1 + 1e-9) declutter(k);
      else for (const l of labels) crowd(l, false);
    };
  };

  // The room under a client point: a room's number first, then a room whose
  // floor is there, then a room whose grid is there. Rooms beside each other
  // share the sectors of their outer rings (a doorway is floor in both): of
  // two rooms there, the one the point lies inside of, off its ring, comes first.
  const roomUnder = (x, y, roomOfLabel) => {
    const floors = [], grids = [];
    for (const el of document.elementsFromPoint(x, y)) {
      if (el.matches(".label[data-room]")) { const g = roomOfLabel(el); if (g) return g; continue; }
      const g = el.closest("g.room");
      if (g) (el.closest(".floor") ? floors : grids).push(g);
    }
    const inner = (g) => pointIn(g, x, y)?.inner;
    return floors.find(inner) ?? floors[0] ?? grids.find(inner) ?? grids[0] ?? null;
  };

  // The world point under a client point, in the panel of room g: x and z in
  // world units (as /MoveItem and /AddItem take them), the world sector
  // (sectorX, sectorZ) and the room's sector there (column along x, row along
  // z, from its grid's corner at its x and z; null outside its grid; inner:
  // inside the grid and off its outer ring). Null when the room is not drawn.
  const pointIn = (g, clientX, clientY) => {
    const layer = g.parentNode, outline = g.querySelector(":scope > rect.outline");
    const ctm = layer && layer.getScreenCTM ? layer.getScreenCTM() : null;
    if (!ctm || !outline) return null;
    // The rooms' layer is in sector units, z pointing up the screen.
    const p = new DOMPoint(clientX, clientY).matrixTransform(ctm.inverse());
    const x = Math.round(p.x * SectorUnits), z = Math.round(-p.y * SectorUnits);
    const num = (name) => Number(outline.getAttribute(name));
    const roomX = Math.round(num("x") * SectorUnits), roomZ = Math.round(-(num("y") + num("height")) * SectorUnits);
    const column = Math.floor((x - roomX) / SectorUnits), row = Math.floor((z - roomZ) / SectorUnits);
    const columns = num("width"), rows = num("height");
    const inside = column >= 0 && column < columns && row >= 0 && row < rows;
    return { x, z, sectorX: Math.floor(x / SectorUnits), sectorZ: Math.floor(z / SectorUnits),
             column: inside ? column : null, row: inside ? row : null,
             inner: column > 0 && column < columns - 1 && row > 0 && row < rows - 1 };
  };

  // The rows the details box gives for a point: "Point" and, inside the
  // room's grid, "Sector".
  const pointRows = (at) => {
    if (!at) return [];
    const rows = [["Point", `x ${at.x}, z ${at.z}`]];
    if (at.column !== null)
      rows.push(["Sector", `column ${at.column}, row ${at.row} (world sector ${at.sectorX}s, ${at.sectorZ}s)`]);
    return rows;
  };

  return { dockLegend, labelSizer, roomUnder, pointIn, pointRows };
})();
)js";

} // namespace qm
