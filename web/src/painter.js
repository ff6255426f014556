// When the page draws. Every message is taken into the store as it comes
// (cheap: a few map entries); drawing waits for the browser's next paint,
// at most once per paint. A tab in the background gets no paints: its
// messages pile into the store only, and when it is seen again it draws
// once, the latest frame, and counts the frames it never drew. So an hour
// in the background costs one drawing, not thirty-six thousand.

export class Painter {
  // `draw()` draws everything; `requestFrame(callback)` is the browser's
  // requestAnimationFrame (a test passes its own).
  constructor(draw, requestFrame) {
    this.draw = draw;
    this.requestFrame = requestFrame;
    this.scheduled = false;
    this.frames = 0;    // frames taken since the last drawing
    this.skipped = 0;   // frames never drawn
    this.drawings = 0;
  }

  // Something changed; `frames`: how many of the station's frames came with it.
  changed(frames = 0) {
    this.frames += frames;
    if (this.scheduled) return;
    this.scheduled = true;
    this.requestFrame(() => this.paint());
  }

  paint() {
    this.scheduled = false;
    if (this.frames > 1) this.skipped += this.frames - 1;
    this.frames = 0;
    ++this.drawings;
    this.draw();
  }
}
