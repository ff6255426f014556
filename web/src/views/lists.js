// The session log (the entries since this page opened, newest at the
// bottom) and the station's alarm list, read-only: acknowledging stays at
// the station.

import { count, durationWords, localTime } from '../format.js';

const SEVERITY = { info: 'INFO', warning: 'WARN', error: 'ERROR' };
const LOG_SHOWN = 500;  // entries in the page at once

export class LogView {
  constructor(list) {
    this.list = list;
    this.last = null;   // the entry drawn last
    // Whether the reader is at the newest entry, kept as they scroll: a
    // drawing does not ask the page's layout before it writes.
    this.atBottom = true;
    list.addEventListener('scroll', () => {
      this.atBottom = list.scrollTop + list.clientHeight >= list.scrollHeight - 4;
    }, { passive: true });
  }

  draw(store) {
    const log = store.log;
    const last = log.length ? log[log.length - 1] : null;
    if (last === this.last) return;
    // Only the entries since the last drawing are made; the oldest leave.
    const from = this.last ? log.lastIndexOf(this.last) + 1 : 0;
    const fresh = log.slice(Math.max(from, log.length - LOG_SHOWN));
    this.last = last;
    const items = fresh.map((entry) => {
      const li = document.createElement('li');
      li.className = entry.severity;
      li.textContent = `${entry.local_time} ${SEVERITY[entry.severity]} ${entry.text}`;
      return li;
    });
    if (from === 0) this.list.replaceChildren(...items);
    else this.list.append(...items);
    for (let extra = this.list.childElementCount - LOG_SHOWN; extra > 0; --extra) this.list.firstElementChild.remove();
    if (this.atBottom) this.list.scrollTop = this.list.scrollHeight;
  }
}

export class AlarmsView {
  constructor(box, head) {
    this.box = box;
    this.head = head;
    this.drawn = undefined;
  }

  draw(store) {
    const a = store.alarms;
    if (a === this.drawn) return;
    this.drawn = a;
    if (!a) {
      this.head.textContent = '';
      this.box.textContent = 'No alarm list from the station yet.';
      return;
    }
    this.head.textContent = `(${count(a.unacknowledged)} not acknowledged${a.muted ? ', sound muted at the station' : ''})`;
    if (a.alarms.length === 0) {
      this.box.textContent = 'No alarm.';
      return;
    }
    const table = document.createElement('table');
    const headRow = table.createTHead().insertRow();
    for (const h of ['', 'what', 'first', 'last', 'times', 'worst', 'now', 'acknowledged']) {
      const th = document.createElement('th');
      th.textContent = h;
      headRow.append(th);
    }
    const body = table.createTBody();
    for (const alarm of a.alarms) {
      const row = body.insertRow();
      row.className = `${alarm.severity}${alarm.acknowledged ? ' acknowledged' : ''}${alarm.active ? ' active' : ''}`;
      const worst = alarm.worst_value
        ? `${alarm.worst_value}${alarm.worst_limit ? ' (' + alarm.worst_limit + ')' : ''}`
        : alarm.longest_s !== null ? `longest ${durationWords(alarm.longest_s)}` : '';
      const cells = [
        alarm.severity === 'alarm' ? 'RED' : 'AMBER',
        alarm.what,
        localTime(alarm.first_time_ms),
        localTime(alarm.last_time_ms),
        count(alarm.occurrences),
        worst,
        alarm.now,
        alarm.acknowledged ? (alarm.acknowledged_time_ms ? localTime(alarm.acknowledged_time_ms) : 'yes') : 'NOT ACKNOWLEDGED',
      ];
      for (const c of cells) row.insertCell().textContent = c;
    }
    this.box.replaceChildren(table);
  }
}
