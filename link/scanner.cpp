#include "link/scanner.h"

#include <cstring>

namespace {

// Where a playback walk stands.
enum PlayState : int {
  FILL_RECORD = 0,  // taking the bytes of a record
  LOOK_BACK = 1,    // a record was refused: the hunt goes over its own bytes
                    // from the second on, at the next feed
  HUNT = 2,         // hunting in the bytes after it
};

}  // namespace

using namespace link_table;

int link_scan_feed(LinkScan* scan, const uint8_t* data, size_t n, size_t* used, int64_t* hunted) {
  // A copy the frame's stores cannot alias keeps the state in registers.
  LinkScan local = *scan;
  int result = SCAN_TAKEN;
  int64_t n_hunted = 0;
  size_t i = 0;
  while (i < n && !scan_ends_attempt(result)) {
    result = link_scan_byte(&local, data[i++]);
    n_hunted += result == SCAN_HUNTED;
  }
  *scan = local;
  *used = i;
  *hunted += n_hunted;
  return result == SCAN_HUNTED ? SCAN_TAKEN : result;
}

int scan_discarded(const LinkScan* scan, int result) {
  if (result == SCAN_BAD_CHECKSUM) return FRAME_LEN;
  if (result == SCAN_ILLEGAL_ESCAPE) return scan->n_stored;
  return 0;
}

bool holds_link_escape(const uint8_t* bytes, size_t n) {
  // The body's part of the link table, from plain data: only '-' or '1'
  // after "++-" is an escape the receiver undoes.
  int state = DATA;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t byte = bytes[i];
    switch (state) {
      case ONE_PLUS:
        state = (byte == PLUS) ? TWO_PLUS : DATA;
        break;
      case TWO_PLUS:
        state = (byte == MINUS) ? ESCAPE : DATA;
        break;
      case ESCAPE:
        if (byte == MINUS || byte == ONE) return true;
        state = DATA;
        break;
      default:  // DATA
        state = (byte == PLUS) ? ONE_PLUS : DATA;
        break;
    }
  }
  return false;
}

bool record_has_sync(const uint8_t* record) { return record[0] == SYNC0 && record[1] == SYNC1; }

bool record_is_frame(const uint8_t* record) { return record_has_sync(record) && checksum_ok(record); }

int hunt_sync(int* after_sync0, uint8_t byte) {
  if (*after_sync0 == 0) {
    *after_sync0 = (byte == SYNC0) ? 1 : 0;
    return 0;
  }
  *after_sync0 = 0;  // whatever this byte is, it is not looked at as an 0xEB
  return byte == SYNC1 ? 1 : 0;
}

void playback_scan_start(PlaybackScan* scan) {
  scan->state = FILL_RECORD;
  scan->after_sync0 = 0;
  scan->n_held = 0;
  scan->n_fed = 0;
  scan->record_at = 0;
  scan->n_skipped = 0;
}

int playback_scan_feed(PlaybackScan* scan, const uint8_t* data, size_t n, size_t* used) {
  size_t i = 0;
  int result = PLAY_MORE;
  while (result == PLAY_MORE) {
    switch (scan->state) {
      case FILL_RECORD: {
        if (i == n) break;
        if (scan->n_held == 0) scan->record_at = scan->n_fed + static_cast<int64_t>(i);
        const size_t want = static_cast<size_t>(FRAME_LEN - scan->n_held);
        const size_t take = want < n - i ? want : n - i;
        std::memcpy(scan->record + scan->n_held, data + i, take);
        scan->n_held += static_cast<int>(take);
        i += take;
        if (scan->n_held < FRAME_LEN) break;
        if (record_is_frame(scan->record)) {
          result = PLAY_FRAME;
          scan->n_held = 0;  // the next record starts at the next byte
        } else {
          result = record_has_sync(scan->record) ? PLAY_BAD_CHECKSUM : PLAY_NO_SYNC;
          scan->state = LOOK_BACK;
        }
        continue;
      }
      case LOOK_BACK: {
        // From the record's second byte, so its own sync word is not found again.
        scan->after_sync0 = 0;
        scan->state = HUNT;
        for (int k = 1; k < FRAME_LEN; ++k) {
          if (hunt_sync(&scan->after_sync0, scan->record[k]) == 0) continue;
          const int sync_at = k - 1;
          std::memmove(scan->record, scan->record + sync_at, static_cast<size_t>(FRAME_LEN - sync_at));
          scan->n_held = FRAME_LEN - sync_at;
          scan->n_skipped += sync_at;
          scan->record_at += sync_at;
          scan->state = FILL_RECORD;
          break;
        }
        continue;
      }
      case HUNT: {
        if (i == n) break;
        if (hunt_sync(&scan->after_sync0, data[i++]) == 0) continue;
        const int64_t sync_at = scan->n_fed + static_cast<int64_t>(i) - 2;
        scan->n_skipped += sync_at - scan->record_at;
        scan->record_at = sync_at;
        scan->record[0] = SYNC0;
        scan->record[1] = SYNC1;
        scan->n_held = 2;
        scan->state = FILL_RECORD;
        continue;
      }
      default:  // guard: outside the table; the walk starts a hunt
        scan->after_sync0 = 0;
        scan->state = HUNT;
        continue;
    }
    break;  // every byte taken
  }
  scan->n_fed += static_cast<int64_t>(i);
  *used = i;
  return result;
}
