// When the page draws. Every message is taken into the store as it comes
// (cheap: a few map entries); drawing waits for the browser's next paint,
// at most once per paint. A tab in the background gets no paints: its
// messages pile into the store only, and when it is seen again it draws
// once, the latest frame, and counts the frames it never drew. So an hour
// in the background costs one drawing, not thirty-six thousand.
//
// Each of the browser's drawings costs far more than the script that
// prepares it, so the page asks for as few as show everything: one per
// station frame, when its values come. The frame's other messages (its
// strip chart points) and the slower ones (health, spectra, log, alarms,
// status) wait for the next frame's drawing, or LATER_MS when frames stop.

export const LATER_MS = 250;

// What a message on PREFIX/leaf asks of the painter: 'now' (the next paint),
// 'later' (within LATER_MS) or nothing ('frame': only the page's counts,
// written once a second, show it).
export const LEAF_DRAWS = {
  values: 'now',
  frame: null,
};

export class Painter {
  // `draw()` draws everything; `framesTaken()` is the number of the
  // station's frames taken so far (one for each frame's values, however many
  // messages the frame came in); `requestFrame(callback)` is the browser's
  // requestAnimationFrame and `setTimer(callback, ms)` its setTimeout (a
  // test passes its own).
  constructor(draw, framesTaken, requestFrame, setTimer = (f, ms) => setTimeout(f, ms)) {
    this.draw = draw;
    this.framesTaken = framesTaken;
    this.requestFrame = requestFrame;
    this.setTimer = setTimer;
    this.scheduled = false;
    this.timerSet = false;
    this.laterPending = false;
    this.takenAtDrawing = framesTaken();
    this.skipped = 0;   // frames taken but never drawn
    this.drawings = 0;
  }

  // A message on PREFIX/leaf was taken into the store.
  message(leaf) {
    const when = Object.prototype.hasOwnProperty.call(LEAF_DRAWS, leaf) ? LEAF_DRAWS[leaf] : 'later';
    if (when === 'now') this.changed();
    else if (when === 'later') this.later();
  }

  // Something changed: drawn at the next paint.
  changed() {
    if (this.scheduled) return;
    this.scheduled = true;
    this.requestFrame(() => this.paint());
  }

  // Something changed that may wait for the next drawing. While drawings
  // come (frames at the link's rate), one of them takes it with it; when
  // none came for LATER_MS, it is drawn then (so within twice LATER_MS).
  later() {
    if (this.scheduled) return;
    this.laterPending = true;
    if (this.timerSet) return;
    this.timerSet = true;
    const drawings = this.drawings;
    this.setTimer(() => {
      this.timerSet = false;
      if (!this.laterPending) return;
      if (this.drawings !== drawings) this.later();
      else this.changed();
    }, LATER_MS);
  }

  paint() {
    this.scheduled = false;
    this.laterPending = false;
    // The latest frame is drawn; the others taken since the last drawing never were.
    const taken = this.framesTaken();
    if (taken - this.takenAtDrawing > 1) this.skipped += taken - this.takenAtDrawing - 1;
    this.takenAtDrawing = taken;
    ++this.drawings;
    this.draw();
  }
}
