// The panel's displays: the kind-dependent values, floats and words, the
// housekeeping table (with units and limit colours), Skipped, the status
// line and the hex dump. Each shows its value as the panel does, with the
// station's format; a display never written is empty, not zero.

import { displayText } from '../format.js';
import { FLOATS_AND_WORDS, HOUSEKEEPING, KIND_ROWS } from '../layout.js';

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}

function display(name) {
  const o = el('output', 'display');
  o.dataset.display = name;
  return o;
}

function unit(name) {
  const u = el('span', 'unit');
  u.dataset.unitOf = name;
  return u;
}

// A display's text goes into the one text node it keeps: the browser then
// measures and paints that text again, where replacing the element's
// children would also make and style a new node each time.
export function setText(o, text) {
  const node = o.firstChild;
  if (node && node.nodeType === 3 && !node.nextSibling) node.data = text;
  else o.textContent = text;
}

export function buildFields(root) {
  const kind = root.querySelector('#kind-table');
  kind.append(el('span', 'head', 'Kind'), el('span', 'head', 'Offset-6 value'), el('span', 'head'),
              el('span', 'head', 'Word 190'));
  for (const [k, what, l6, w190] of KIND_ROWS) {
    kind.append(el('label', '', `${k}  ${what}`), display(l6), unit(l6), display(w190));
  }
  const floats = root.querySelector('#floats-table');
  for (const [label1, name1, label2, name2] of FLOATS_AND_WORDS) {
    floats.append(el('label', '', label1 || ''), name1 ? display(name1) : el('span'), el('label', '', label2),
                  display(name2));
  }
  const hk = root.querySelector('#hk-table');
  for (const column of HOUSEKEEPING) {
    const c = el('div', 'hk-column');
    for (const [label, name] of column) c.append(el('label', '', label), display(name), unit(name));
    hk.append(c);
  }
}

export class FieldsView {
  constructor(root, onPick) {
    this.outputs = [...root.querySelectorAll('[data-display]')];
    this.units = [...root.querySelectorAll('[data-unit-of]')];
    this.drawn = new Map();  // element -> what it shows, so only changes touch the page
    this.panelDrawn = null;
    for (const o of this.outputs) {
      if (o.dataset.display === 'STATUS' || o.dataset.display === 'HEXDUMP') continue;
      o.addEventListener('click', () => onPick(o.dataset.display));
      o.title = 'Click for its trend';
    }
  }

  draw(store) {
    const panel = store.panel;
    if (panel !== this.panelDrawn) {
      this.panelDrawn = panel;
      for (const u of this.units) u.textContent = panel?.displays.get(u.dataset.unitOf)?.unit || '';
    }
    const stale = !!store.health?.stale;
    for (const o of this.outputs) {
      const name = o.dataset.display;
      const meta = panel?.displays.get(name);
      let text = '', limit = null;
      if (name === 'STATUS') {
        text = store.statusLine() ?? '';
      } else {
        const d = store.displays.get(name);
        // Until the station has said how the display writes its values
        // (PREFIX/panel), it shows nothing rather than guess.
        if (d && meta) {
          text = displayText(d.value, meta.type, meta.format);
          limit = d.limit;
        }
      }
      const look = `${text}\u0000${limit}\u0000${stale}`;
      if (this.drawn.get(o) === look) continue;
      this.drawn.set(o, look);
      setText(o, text);
      o.classList.toggle('caution', limit === 'caution');
      o.classList.toggle('alarm', limit === 'alarm');
      o.classList.toggle('stale', stale && name !== 'STATUS');
      const title = meta?.limits ? `${meta.limits.text}\nClick for its trend` : null;
      if (title && o.title !== title) o.title = title;
    }
  }
}
