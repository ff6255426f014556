// The link's rules, byte by byte, with no I/O: how the live receiver finds
// a frame in the bytes of the link (the sync hunt, the "++-" escapes, 200
// stored bytes, the checksum), and how the playback reader finds frames in
// a recording (a 200-byte record that starts with the sync word and passes
// the checksum; after a refused record, the hunt for the next sync word).
//
// The receiver and the reader drive these with their own reads, waits and
// counts; the recording index and the analysis export feed them a file's
// bytes. Each scan is a plain struct the caller owns (several may run at
// once on different threads); nothing here allocates or keeps state of its
// own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/frame.h"

// ----- The live link -----------------------------------------------------------

// Results of link_scan_byte.
constexpr int SCAN_TAKEN = 0;           // stored, or part of an escape: the frame goes on
constexpr int SCAN_HUNTED = 1;          // passed over by the sync hunt: one byte to nskip
                                        // (0xEB then not 0x90 counts once for both)
constexpr int SCAN_FRAME = 2;           // 200 bytes stored, the checksum holds
constexpr int SCAN_BAD_CHECKSUM = 3;    // 200 bytes stored, the checksum fails
constexpr int SCAN_ILLEGAL_ESCAPE = 4;  // "++-" then neither '-' nor '1': the n_stored
                                        // bytes stored are discarded
constexpr int SCAN_BAD_STATE = 5;       // guard: state outside the table

// True for the results that end an attempt (the last four above).
inline bool scan_ends_attempt(int result) { return result >= SCAN_FRAME; }

// One frame attempt on the link. After a result that ends it,
// link_scan_start begins the next one, at the byte after.
struct LinkScan {
  int state;       // where the scan stands (the table in link/scanner.cpp)
  int n_stored;    // bytes stored in `frame`; the next one goes at this index
  int n_link;      // link bytes taken since the frame's first sync byte, that
                   // byte and escapes included (the frame's span in a recording)
  uint8_t* frame;  // FRAME_LEN bytes, the caller's
};

// Starts an attempt: hunting for the sync word, nothing stored, into `frame`.
inline void link_scan_start(LinkScan* scan, uint8_t* frame) {
  scan->state = 0;  // HUNT_SYNC0
  scan->n_stored = 0;
  scan->n_link = 0;
  scan->frame = frame;
}

// Works one byte of the link into the attempt. Returns one of the SCAN_*
// results. A byte is stored only while fewer than FRAME_LEN are, so `frame`
// never takes more; the byte that makes SCAN_FRAME or SCAN_BAD_CHECKSUM is
// the 200th stored, and escape bytes after it belong to the next attempt.
// (Defined below, inline: the receiver runs it for every byte of the link.)
inline int link_scan_byte(LinkScan* scan, uint8_t byte);

// The same over data[0..n), for a reader of a whole recording: takes bytes
// until one ends the attempt (its result, with *used the bytes taken, that
// one included) or all are taken (SCAN_TAKEN, *used = n). Bytes hunted over
// are not reported one by one: *hunted grows by the SCAN_HUNTED results
// among the bytes taken (what the receiver adds to nskip for them).
int link_scan_feed(LinkScan* scan, const uint8_t* data, size_t n, size_t* used, int64_t* hunted);

// The bytes an attempt that ended with `result` discards beyond those hunted
// over: all 200 of a frame with a bad checksum, the bytes stored before an
// illegal escape, none otherwise. What the receiver adds to nskip then.
int scan_discarded(const LinkScan* scan, int result);

// True when `bytes` hold an escape that the link's rules undo: "++-" then
// '-' or '1', read as the receiver reads a frame's body. A recording holds
// such bytes where the link carried a frame with escapes.
bool holds_link_escape(const uint8_t* bytes, size_t n);

// ----- The link's state table ------------------------------------------------

namespace link_table {

constexpr uint8_t PLUS = 0x2B;   // '+'
constexpr uint8_t MINUS = 0x2D;  // '-'
constexpr uint8_t ONE = 0x31;    // '1'

// Where a link scan stands in the byte stream. The values are the ones the
// link's documentation numbers its states with.
enum State : int {
  HUNT_SYNC0 = 0,  // hunting for 0xEB
  HUNT_SYNC1 = 1,  // 0xEB stored, expecting 0x90
  DATA = 2,        // plain frame data
  ONE_PLUS = 3,    // one '+' stored
  TWO_PLUS = 4,    // "++" stored; a '-' now starts an escape
  ESCAPE = 5,      // "++-" seen: '-' stands for '+', '1' for '-'
};

inline void store(LinkScan* scan, uint8_t byte) { scan->frame[scan->n_stored++] = byte; }

}  // namespace link_table

inline int link_scan_byte(LinkScan* scan, uint8_t byte) {
  using namespace link_table;
  ++scan->n_link;
  switch (scan->state) {
    case HUNT_SYNC0:
      if (byte != SYNC0) {
        scan->n_link = 0;
        return SCAN_HUNTED;
      }
      scan->n_link = 1;
      store(scan, byte);
      scan->state = HUNT_SYNC1;
      return SCAN_TAKEN;
    case HUNT_SYNC1:
      if (byte != SYNC1) {
        // Drops the stored 0xEB; this byte is not taken as a new 0xEB.
        scan->n_stored = 0;
        scan->n_link = 0;
        scan->state = HUNT_SYNC0;
        return SCAN_HUNTED;
      }
      store(scan, byte);
      scan->state = DATA;
      return SCAN_TAKEN;
    case DATA:
      store(scan, byte);
      scan->state = (byte == PLUS) ? ONE_PLUS : DATA;
      break;
    case ONE_PLUS:
      store(scan, byte);
      scan->state = (byte == PLUS) ? TWO_PLUS : DATA;
      break;
    case TWO_PLUS:
      if (byte == MINUS) {
        scan->state = ESCAPE;  // the '-' itself is not stored
      } else {
        store(scan, byte);  // a third '+' too: pairs start over
        scan->state = DATA;
      }
      break;
    case ESCAPE:
      if (byte == MINUS) {
        store(scan, PLUS);
      } else if (byte == ONE) {
        store(scan, MINUS);
      } else {
        return SCAN_ILLEGAL_ESCAPE;
      }
      scan->state = DATA;
      break;
    default:
      return SCAN_BAD_STATE;
  }
  // Tested after every stored byte, so the frame never takes more.
  if (scan->n_stored < FRAME_LEN) return SCAN_TAKEN;
  return checksum_ok(scan->frame) ? SCAN_FRAME : SCAN_BAD_CHECKSUM;
}

// ----- A recording played back ---------------------------------------------------

// A record is a frame when it starts with the sync word 0xEB 0x90 and its
// checksum holds (the checksum alone would pass 200 zero bytes). One that
// starts with the sync word but fails the checksum is a failed frame; other
// bytes are just passed over.
bool record_has_sync(const uint8_t* record);
bool record_is_frame(const uint8_t* record);

// The hunt for the sync word after a refused record, one byte at a time.
// `after_sync0` is the hunt flag: 0 when the hunt starts, 1 just after an
// 0xEB. Returns 1 when `byte` is the 0x90 that completes 0xEB 0x90 (the
// sync word began at the byte before), else 0. A byte that follows an 0xEB
// without being 0x90 is not looked at again as an 0xEB.
int hunt_sync(int* after_sync0, uint8_t byte);

// Results of playback_scan_feed.
constexpr int PLAY_MORE = 0;          // every byte taken, no record completed
constexpr int PLAY_FRAME = 1;         // `record` is a frame, at record_at
constexpr int PLAY_BAD_CHECKSUM = 2;  // `record` starts with the sync word but
                                      // fails the checksum
constexpr int PLAY_NO_SYNC = 3;       // `record` does not start with the sync word

// The playback reader's walk over a recording fed in order: a record of 200
// bytes at the position; when it is not a frame, the hunt from the record's
// second byte (looking back into it), then a record at the sync word found.
// Nothing is carried but the position, as in the reader.
struct PlaybackScan {
  int state;                   // where the walk stands (link/scanner.cpp)
  int after_sync0;             // the hunt flag (hunt_sync)
  int n_held;                  // bytes of the record held so far
  int64_t n_fed;               // bytes fed so far
  int64_t record_at;           // offset of the record's first byte
  int64_t n_skipped;           // bytes passed over before that record: the reader's
                               // nskip at this point (a hunt still going on not yet in)
  uint8_t record[FRAME_LEN];   // the record; after PLAY_FRAME, the frame
};

void playback_scan_start(PlaybackScan* scan);

// Takes bytes of data[0..n) until a record is complete (its result, with
// *used the bytes taken, the completing one included) or all are taken
// (PLAY_MORE). After a result other than PLAY_MORE, `record` and
// `record_at` describe that record until the next call. The final bytes of
// a recording that do not fill a record are never a result.
int playback_scan_feed(PlaybackScan* scan, const uint8_t* data, size_t n, size_t* used);
