// Find a moment.
//
// Contract: a find box in the tools: what to find (a button, any of the
// 14 or a reserved bit, pressed: held in a row but not in the one before
// it in the demo, across a block's bound; released; held; or the stick's
// X or Y at or beyond a strength of the shown 0 to 128 %), a controller or
// any, and next and previous (keys f and F). Next looks from the cell
// after the last one found while it is in the window, else from the row
// at the top; previous the other way. A find goes to the row and
// marks the cell (view.marks.found); none says "not found". view.find
// (step) does the same for a test, with view.found, the last cell found.
(function (view) {
  "use strict";
  const demo = view.demo;
  if (!demo.rowCount || demo.tablesLeftOut) return;
  const BUTTONS = view.C_BUTTONS.concat(view.MAIN_BUTTONS);
  // Each choice: its name, the bit of the entry's last two bytes (byte 2
  // high, byte 3 low) or the stick's byte, and the lane it marks.
  const CHOICES = BUTTONS.map((name, lane) => ({name: name, bit: lane < 6 ? 1 << (8 + lane) : 1 << (lane - 6),
                                                lane: 2 + lane}))
    .concat([{name: "reserved1", bit: 1 << 14, lane: 16}, {name: "reserved2", bit: 1 << 15, lane: 16},
             {name: "stick X", stick: 0, lane: 0}, {name: "stick Y", stick: 1, lane: 1}]);
  const EVENTS = ["pressed", "released", "held"];

  const form = document.createElement("form");
  form.id = "find";
  form.innerHTML =
    '<label>Find <select id="find-what">' + CHOICES.map((c, i) => '<option value="' + i + '">' + c.name + "</option>")
                                            .join("") + "</select></label> " +
    '<select id="find-event">' + EVENTS.map(e => "<option>" + e + "</option>").join("") + "</select>" +
    '<label id="find-beyond" hidden>at or beyond <input id="find-strength" type="number" min="0" max="128" ' +
    'value="100">%</label> <label>by <select id="find-controller"><option value="-1">any controller</option>' +
    Array.from({length: demo.controllers}, (_, n) => '<option value="' + n + '">controller ' + (n + 1) + "</option>")
      .join("") + "</select></label> " +
    '<button type="button" id="find-previous">previous</button> <button type="submit" id="find-next">next</button> ' +
    '<output id="find-said"></output>';
  view.tools.appendChild(form);
  const field = id => form.querySelector("#" + id);
  field("find-what").addEventListener("change", () => {
    const stick = CHOICES[field("find-what").value].stick !== undefined;
    field("find-event").hidden = stick;
    field("find-beyond").hidden = !stick;
  });

  // Where each row's entries start, made when first looked for.
  let rows = null;
  function rowStarts() {
    if (rows) return rows;
    rows = {offsets: new Uint32Array(demo.rowCount), cells: new Uint16Array(demo.rowCount),
            bytes: demo.bytes()};
    for (const block of demo.blocks) {
      for (let row = 0; row < block.shown; row++) {
        rows.offsets[block.firstRow + row] = block.offset + view.WORD + row * demo.controllers * view.WORD;
        rows.cells[block.firstRow + row] = Math.min(demo.controllers, block.entries - row * demo.controllers);
      }
    }
    return rows;
  }

  // Whether the cell of `row` and controller `cell` is what is looked for.
  function matcher() {
    const choice = CHOICES[field("find-what").value];
    const {offsets, cells, bytes} = rowStarts();
    if (choice.stick !== undefined) {
      const least = Math.max(0, Number(field("find-strength").value) || 0);
      return (row, cell) => {
        const value = bytes[offsets[row] + cell * view.WORD + choice.stick];
        return (value < 128 ? value : 256 - value) >= least;
      };
    }
    const held = (row, cell) => {
      if (row < 0 || cell >= cells[row]) return false;
      const at = offsets[row] + cell * view.WORD;
      return ((bytes[at + 2] << 8) | bytes[at + 3]) & choice.bit;
    };
    const event = field("find-event").value;
    if (event === "held") return (row, cell) => Boolean(held(row, cell));
    const now = event === "pressed";
    return (row, cell) => Boolean(held(row, cell)) === now && Boolean(held(row - 1, cell)) !== now;
  }

  view.found = null; // {row, cell} of the last find
  view.marks.found = (row, cell) =>
    view.found && view.found.row === row && view.found.cell === cell ? 1 << view.found.lane : 0;

  // The next (step 1) or previous (step -1) cell that matches.
  function find(step) {
    const matches = matcher();
    const {cells} = rowStarts();
    const only = Number(field("find-controller").value);
    const top = view.rowAtTop();
    const inView = view.found && view.found.row >= top && view.found.row < top + Math.floor(innerHeight / view.LINE);
    const from = inView ? view.found : {row: top, cell: step > 0 ? -1 : demo.controllers};
    const said = field("find-said");
    for (let row = from.row; row >= 0 && row < demo.rowCount; row += step) {
      const count = cells[row];
      let cell = row === from.row ? from.cell + step : step > 0 ? 0 : count - 1;
      for (; cell >= 0 && cell < count; cell += step) {
        if ((only < 0 || cell === only) && matches(row, cell)) {
          view.found = {row: row, cell: cell, lane: CHOICES[field("find-what").value].lane};
          said.textContent = "row " + (row + 1) + ", controller " + (cell + 1);
          view.goToRow(row);
          view.refresh();
          return true;
        }
      }
    }
    said.textContent = "not found";
    return false;
  }

  form.addEventListener("submit", event => {
    event.preventDefault();
    find(1);
  });
  field("find-previous").addEventListener("click", () => find(-1));
  view.keys.f = () => find(1);
  view.keys.F = () => find(-1);
  view.find = find;
})(view);
