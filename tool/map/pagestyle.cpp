// The map page's style and controls. The picture fills the window under a bar
// of controls; printed, the page is the picture of the storey shown.
#include "pageassets.h"

namespace qm {

const char* const PageStyle = R"css(html, body { margin: 0; height: 100%; }
body { display: flex; flex-direction: column; font: 14px/1.4 system-ui, sans-serif; color: #1d1d1d;
       background: #f4f4f2; }
#controls { display: flex; flex-wrap: wrap; gap: .4rem 1rem; align-items: center; padding: .4rem .7rem;
            background: #fff; border-bottom: 1px solid #c8c8c8; }
#controls form, #controls .zoom { display: flex; gap: .25rem; }
#controls button { min-width: 2rem; }
#find-note { color: #555; min-width: 8rem; }
#view { flex: 1; min-height: 0; overflow: hidden; }
#view > svg { display: block; width: 100%; height: 100%; touch-action: none; cursor: grab; user-select: none; }
#view > svg.dragging { cursor: grabbing; }
.off, .crowded, body.no-items .item, body.no-items #item-legend { display: none; }
/* A room answers the pointer anywhere on its grid; a dashed room (a flip
   room, or in the flipped state its original) on its outline only. */
.room > .outline { pointer-events: visible; }
.room.flip > .outline, body.flipped .room.original > .outline { pointer-events: visibleStroke; }
body.flipped .room.flip > .outline { pointer-events: visible; stroke-dasharray: none; }
body.flipped .room.flip > .floor { display: inline; }
body.flipped .room.original > .floor { display: none; }
body.flipped .room.original > .outline { stroke-dasharray: var(--flip-dash); }
.room.hover > .outline { stroke: #0a58ca; stroke-width: 3px; vector-effect: non-scaling-stroke; }
/* Room numbers scaled about their middle to stay readable (MapView.labelSizer). */
.label { transform-box: fill-box; transform-origin: center; transform: scale(var(--label-scale, 1)); }
#legend-bar { flex: none; padding: .2rem .7rem; background: #fff; border-top: 1px solid #c8c8c8; overflow: hidden; }
#legend-bar > svg { display: block; max-width: 100%; height: auto; }
.room.found > .outline { stroke: #d6336c; stroke-width: 4px; vector-effect: non-scaling-stroke; }
.room.found > .floor { fill: #ffc933; }
#info { position: fixed; right: .8rem; top: 3.2rem; max-width: 24rem; max-height: 80vh; overflow: hidden;
        background: #fff; border: 1px solid #999; border-radius: 4px; box-shadow: 0 2px 8px rgba(0,0,0,.25);
        padding: .5rem .75rem; font-size: 13px; pointer-events: none; }
#info h2 { font-size: 15px; margin: 0 0 .3rem; }
#info table { border-collapse: collapse; }
#info th { text-align: left; font-weight: 600; padding: 0 .8rem 0 0; vertical-align: top; }
#info td { padding: 0; }
#info ul { margin: .2rem 0 0; padding-left: 1.1rem; }
@media print {
  #controls, #info { display: none !important; }
  html, body { height: auto; background: #fff; }
  #view { overflow: visible; }
  #view > svg { height: 84vh; }
  #legend-bar { border: none; }
}
)css";

const char* const PageControls = R"html(<header id="controls">
<label>Storey <select id="storey"></select></label>
<span class="zoom"><button type="button" id="zoom-in" title="Zoom in">+</button><button type="button" id="zoom-out" title="Zoom out">&minus;</button><button type="button" id="zoom-fit" title="Show the whole storey">Fit</button></span>
<form id="find" role="search"><input id="room-number" type="search" inputmode="numeric" placeholder="Room number" aria-label="Room number" size="10"><button type="submit">Find</button></form>
<span id="find-note" role="status"></span>
<label title="Each flip room in place of its original"><input type="checkbox" id="flipped"> Flipped state</label>
<label><input type="checkbox" id="show-items" checked> Items</label>
</header>
)html";

} // namespace qm
