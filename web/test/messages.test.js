// What the page takes and what it refuses, and how the store holds it: the
// panel's sample-and-hold, the status line, sequence numbers, the strip
// chart's placing and the catch-up of a tab that was in the background.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { check, MAX_PAYLOAD } from '../src/checks.js';
import { Store } from '../src/store.js';
import { LATER_MS, Painter } from '../src/painter.js';

// A frame the station published (docs/mqtt.md).
const GOOD_FRAME = 'EB902800000A1C901E5706C646A3FE3842E03940C723FDA0C454A1E14A3B80026666D7777EED66E9D78F7BF8676CD77D7BC367EFD7A5780E6872D793770468F5D76176F66978D784752169FBD77773396A7ED77C73796B01D79E70536B84D76C6E656C07D7656A906C8AD7866C196D0DD77069256D90D79867746E14D76566B46E97D77E66516F1AD767620B6F9DD794622D7020D7B8006D007F0054006B005C003E0055005C00F40128006C003D00E700EE00F200ED00EC00E100DF00D4FD140837F9F500469F03';
const SESSION = 'd35fe8342ef39718';
const head = (more) => ({ session: SESSION, time_ms: 1796702657893, time: '2026-12-08T04:04:17.893Z', ...more });
const json = (o) => JSON.stringify(o);
const values = (seq, v) => json(head({ seq, fcount: seq, kind: 0, hk_slot: 0, values: v }));

test('hostile_messages_are_refused_with_their_reason', () => {
  const cases = [
    ['frame', 'x'.repeat(MAX_PAYLOAD + 1), 'too_large'],
    ['frame', '{"session":', 'not_json'],
    ['frame', '[1,2]', 'not_json'],
    ['frame', new Uint8Array([0x7b, 0xff, 0x7d]), 'not_json'],   // not UTF-8
    ['frame', json(head({ seq: 3, skipped: 0, frame: GOOD_FRAME.slice(2) })), 'not_a_frame'],  // wrong length
    ['frame', json(head({ seq: 3, skipped: 0, frame: GOOD_FRAME.replace(/^EB90/, 'EB91') })), 'not_a_frame'],
    ['frame', json(head({ seq: 3, skipped: 0, frame: GOOD_FRAME.slice(0, 20) + '00' + GOOD_FRAME.slice(22) })), 'not_a_frame'],
    ['frame', json(head({ seq: -1, skipped: 0, frame: GOOD_FRAME })), 'bad_fields'],
    ['values', json(head({ seq: 1, values: { HK16: { value: {} } } })), 'bad_fields'],
    ['values', json(head({ seq: 1, values: { '<img src=x>': { value: 1 } } })), 'bad_fields'],
    ['values', json(head({ seq: 1, values: { HK16: { value: 1, limit: 'purple' } } })), 'bad_fields'],
    ['status', json(head({ state: 'online', session: '../../etc' })), 'bad_fields'],
    ['status', json(head({ state: 'maybe' })), 'bad_fields'],
    ['status', json({ state: 'offline' }), 'bad_fields'],        // a forged status without who or when
    ['health', json(head({ state: 'receiving' })), 'bad_fields'],
    ['strip', json(head({ seq: 1, t_s: 1, traces: [[70000], [], [], []] })), 'bad_fields'],
    ['spectra', json(head({ graphs: { SPEC48: { x: { min: 0, max: 1, manual: false, log: false },
      y: { min: 0, max: 1, manual: false, log: false }, plots: [{ color: '#0000FF', x: [1, 2], y: [1] }] } } })), 'bad_fields'],
    ['panel', json(head({ displays: [{ name: 'HK16', type: 'double', format: 'digits:99' }] })), 'bad_fields'],
  ];
  for (const [leaf, payload, reason] of cases) {
    const r = check(leaf, payload);
    assert.equal(r.ok, false, `${leaf}: ${String(payload).slice(0, 60)} was taken`);
    assert.equal(r.reason, reason, `${leaf}: ${r.detail}`);
  }
  assert.equal(check('frame', json(head({ seq: 3, skipped: 0, frame: GOOD_FRAME }))).ok, true);
});

test('network_text_loses_its_control_characters', () => {
  const r = check('log', json({ session: SESSION, serial: 1, local_time: '2026-12-08 04:04:18.542', severity: 'warning',
                               text: 'COM1 err:\u001b[2J checksum\r failure' }));
  assert.equal(r.message.text, 'COM1 err:[2J checksum failure');
  const v = check('values', values(1, { HEXDUMP: { value: 'EB90\nABCD\u0007' } }));
  assert.equal(v.message.values.get('HEXDUMP').value, 'EB90\nABCD');
});

test('a_value_is_held_until_a_frame_carries_it_again_and_a_repeat_or_older_frame_is_refused', () => {
  const store = new Store(() => 0);
  assert.ok(store.receive('values', values(1, { HK16: { value: 40.5, unit: '°C', limit: 'normal' }, W10: { value: 1734 } })));
  assert.ok(store.receive('values', values(2, { W10: { value: -5 } })));
  assert.equal(store.displays.get('HK16').value, 40.5);
  assert.equal(store.displays.get('W10').value, -5);
  assert.equal(store.receive('values', values(2, { W10: { value: 9 } })), false);
  assert.equal(store.refused.goes_back, 1);
  assert.equal(store.displays.get('W10').value, -5);
  // A new session (the station started publishing again) starts its own count.
  assert.ok(store.receive('values', JSON.stringify({ ...JSON.parse(values(1, { W10: { value: 7 } })), session: 'aaaaaaaaaaaaaaaa' })));
  assert.equal(store.displays.get('W10').value, 7);
});

test('the_status_line_is_blank_after_a_good_frame_unless_a_failure_came_after_it', () => {
  const store = new Store(() => 0);
  const status = (after_seq, text) => json(head({ after_seq, status: text }));
  assert.equal(store.statusLine(), null);  // never written: empty
  store.receive('values', values(5, {}));
  assert.equal(store.statusLine(), ' ');
  store.receive('link_status', status(4, 'COM1 err: checksum failure'));  // before frame 5: old news
  assert.equal(store.statusLine(), ' ');
  store.receive('link_status', status(5, 'COM1 err: checksum failure'));
  assert.equal(store.statusLine(), 'COM1 err: checksum failure');
  store.receive('values', values(6, {}));
  assert.equal(store.statusLine(), ' ');
});

test('frames_missed_are_counted_from_the_sequence_numbers_after_the_first', () => {
  const store = new Store(() => 1796702657900);
  const frame = (seq) => json(head({ seq, skipped: 0, frame: GOOD_FRAME }));
  store.receive('frame', frame(100));   // a late joiner counts nothing before it
  store.receive('frame', frame(101));
  store.receive('frame', frame(105));
  assert.equal(store.missed, 3);
  assert.equal(store.framesReceived, 3);
  assert.deepEqual(store.latencies, [7, 7, 7]);
});

test('a_station_not_heard_for_three_seconds_or_gone_offline_says_so', () => {
  let now = 1000;
  const store = new Store(() => now);
  assert.equal(store.presence().words, 'not heard yet');
  store.receive('status', json(head({ state: 'online', time_ms: 10 })));
  assert.equal(store.presence().words, 'online');
  now += 12500;
  assert.equal(store.presence().words, 'not heard for 12 s');
  // The last will: written when the station connected, before its online.
  store.receive('status', json(head({ state: 'offline', time_ms: 8, reason: 'the connection was lost (the station vanished)' })));
  assert.equal(store.presence().words, 'offline: the connection was lost (the station vanished)');
  // A retained status older than the one shown is not taken.
  assert.equal(store.receive('status', json(head({ state: 'online', time_ms: 5 }))), false);
  assert.equal(store.receive('status', json(head({ state: 'online', time_ms: 4, session: 'ffffffffffffffff' }))), false);
  assert.equal(store.presence().state, 'offline');
});

test('strip_points_are_spread_over_their_frame_and_a_silence_breaks_the_line', () => {
  const store = new Store(() => 0);
  const strip = (seq, t_s, n = 2) => json(head({ seq, t_s, traces: [0, 1, 2, 3].map((t) => Array(n).fill(t * 100 + seq)) }));
  store.receive('strip', strip(1, 10.0));
  store.receive('strip', strip(2, 10.1));
  store.receive('strip', strip(3, 11.1));   // a second of silence before it
  const xs = store.strip.x[0].map((x) => Math.round(x * 1000) / 1000);
  // first frame: spread over 0.1 s; second over the 0.1 s since; third: a
  // gap mark, then over at most 0.25 s.
  assert.deepEqual(xs, [9.95, 10, 10.05, 10.1, 10.85, 10.975, 11.1]);
  assert.deepEqual(store.strip.y[2], [201, 201, 202, 202, null, 203, 203]);
});

test('a_strip_message_of_several_frames_draws_as_its_frames_one_by_one', () => {
  const part = (seq, t_s) => ({ seq, t_s, traces: [0, 1, 2, 3].map((t) => [t * 100 + seq, t * 100 + seq]) });
  const store = new Store(() => 0);
  // Frames 1 and 2 under "earlier", 3 the message's own: the same points
  // as three messages (the test above).
  assert.equal(store.receive('strip', json(head({ ...part(3, 11.1), earlier: [part(1, 10.0), part(2, 10.1)] }))), true);
  assert.deepEqual(store.strip.x[0].map((x) => Math.round(x * 1000) / 1000), [9.95, 10, 10.05, 10.1, 10.85, 10.975, 11.1]);
  assert.deepEqual(store.strip.y[2], [201, 201, 202, 202, null, 203, 203]);
  // Sent again (retained): refused; overlapping: only the new frame taken.
  assert.equal(store.receive('strip', json(head({ ...part(3, 11.1), earlier: [part(2, 10.1)] }))), false);
  assert.equal(store.receive('strip', json(head({ ...part(4, 11.2), earlier: [part(3, 11.1)] }))), true);
  assert.equal(store.strip.y[0].length, 9);
  // Parts out of order are refused whole.
  assert.equal(store.receive('strip', json(head({ ...part(9, 12.0), earlier: [part(6, 11.5), part(5, 11.4)] }))), false);
  assert.equal(store.strip.y[0].length, 9);
});

test('a_tab_in_the_background_draws_once_when_seen_again_and_counts_what_it_skipped', () => {
  const store = new Store(() => 0);
  const queued = [];
  let drawn = [];
  const painter = new Painter(() => drawn.push(store.seq), () => store.valuesTaken, (cb) => queued.push(cb));
  // An hour at the link's rate while the browser gives no paints.
  for (let seq = 1; seq <= 36000; ++seq) {
    store.receive('values', values(seq, { W10: { value: seq % 1000 } }));
    painter.message('values');
  }
  assert.equal(queued.length, 1, 'one drawing asked for');
  queued.shift()();
  assert.deepEqual(drawn, [36000]);
  assert.equal(painter.skipped, 35999);
  assert.equal(store.displays.get('W10').value, 0);
  assert.equal(store.history.get('W10').length, 36000);
});

test('a_frame_is_one_frame_skipped_whatever_messages_carry_it_and_only_its_values_ask_for_a_paint', () => {
  const store = new Store(() => 0);
  const paints = [], timers = [];
  const drawn = [];
  const painter = new Painter(() => drawn.push(store.seq), () => store.valuesTaken, (cb) => paints.push(cb),
                              (cb, ms) => timers.push([cb, ms]));
  // Each frame as the station sends it: its bytes, its values, its strip
  // points; the browser paints when `paintAt` (a leaf) has been taken.
  const frame = (seq, paintAt = null) => {
    for (const [leaf, payload] of [['frame', json(head({ seq, skipped: 0, frame: GOOD_FRAME }))],
                                   ['values', values(seq, { W10: { value: seq } })],
                                   ['strip', json(head({ seq, t_s: seq / 10, traces: [[1], [2], [3], [4]] }))]]) {
      assert.equal(store.receive(leaf, payload), true, `${leaf} of frame ${seq}`);
      painter.message(leaf);
      if (leaf === paintAt) paints.shift()();
    }
  };
  frame(1);
  frame(2);
  frame(3);
  assert.equal(paints.length, 1, 'one paint asked for three frames (nine messages)');
  assert.equal(timers.length, 0, 'nothing waits beside a paint already asked for');
  paints.shift()();
  assert.deepEqual(drawn, [3]);
  assert.equal(painter.skipped, 2, 'frames 1 and 2 were never drawn');
  // Painted before their strips came: frame 4's strip waits for the next
  // drawing, and frame 5's takes it with it; frame 5's strip, the last,
  // is drawn once LATER_MS passed without a drawing.
  frame(4, 'values');
  assert.equal(painter.skipped, 2, 'frame 4 was drawn');
  assert.deepEqual(timers.map(([, ms]) => ms), [LATER_MS]);
  frame(5, 'values');
  timers.shift()[0]();
  assert.equal(paints.length, 0, 'frames still came: no drawing of its own');
  timers.shift()[0]();
  paints.shift()();
  assert.deepEqual(drawn, [3, 4, 5, 5]);
  // A health between frames: drawn within LATER_MS when no frame comes.
  store.receive('link_status', json(head({ status: 'COM1 err: too few bytes read', after_seq: 5 })));
  painter.message('link_status');
  assert.equal(paints.length, 0);
  timers.shift()[0]();
  paints.shift()();
  assert.deepEqual(drawn, [3, 4, 5, 5, 5]);
  assert.equal(painter.skipped, 2);
  assert.equal(timers.length, 0);
});
