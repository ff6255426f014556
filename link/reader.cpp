#include "link/reader.h"

#include <cstdio>

#include "link/frame.h"
#include "runtime/ui.h"

namespace {

constexpr double PACING_DELAY_S = 0.1;
constexpr double RESYNC_DELAY_S = 1.0;
// A failed record has just been read whole: stepping back this far puts the
// stream on its second byte, so its own sync word is not found again.
constexpr long STEP_BACK_RECORD = -(FRAME_LEN - 1);
constexpr long STEP_BACK_SYNC = -2;

FileStream* in_fp = nullptr;

// A record is a frame when it starts with the sync word and its checksum
// holds. The checksum alone would pass 200 zero bytes (a zero-filled tail
// after a crash), since the sum does not single out the sync word.
bool is_frame(const uint8_t* record) {
  return record[0] == SYNC0 && record[1] == SYNC1 && checksum_ok(record);
}

}  // namespace

void reader_attach(FileStream* fp) { in_fp = fp; }

int get_file_frm(uint8_t* frame) {
  Delay(PACING_DELAY_S);
  for (;;) {
    if (in_fp == nullptr || FileRead(frame, FRAME_LEN, 1, in_fp) != 1) return -1;
    if (is_frame(frame)) return 0;
    if (resync() != 0) return -1;
  }
}

int resync() {
  int after_sync0 = 0;  // 1 when the byte just read was 0xEB
  Delay(RESYNC_DELAY_S);
  if (in_fp == nullptr) return 1;
  FileSeek(in_fp, STEP_BACK_RECORD, SEEK_CUR);
  nskip_add(1);  // the failed record's first byte
  for (;;) {
    int c = FileGetc(in_fp);
    if (c == EOF) return 1;
    nskip_add(1);
    if (after_sync0 == 0) {
      after_sync0 = (c == SYNC0) ? 1 : 0;
    } else if (c == SYNC1) {
      // Back onto the 0xEB; neither sync byte counts as skipped.
      FileSeek(in_fp, STEP_BACK_SYNC, SEEK_CUR);
      nskip_add(-2);
      return 0;
    } else {
      // Not examined again as a possible 0xEB.
      after_sync0 = 0;
    }
  }
}
