#include "link/reader.h"

#include <cstdio>

#include "link/frame.h"
#include "link/scanner.h"
#include "runtime/ui.h"

namespace {

constexpr double PACING_DELAY_S = 0.1;
constexpr double RESYNC_DELAY_S = 1.0;
// A failed record has just been read whole: stepping back this far puts the
// stream on its second byte, so its own sync word is not found again.
constexpr long STEP_BACK_RECORD = -(FRAME_LEN - 1);
constexpr long STEP_BACK_SYNC = -2;

FileStream* in_fp = nullptr;

}  // namespace

void reader_attach(FileStream* fp) { in_fp = fp; }

int get_file_frm(uint8_t* frame) {
  Delay(PACING_DELAY_S);
  for (;;) {
    if (in_fp == nullptr || FileRead(frame, FRAME_LEN, 1, in_fp) != 1) return -1;
    if (record_is_frame(frame)) return 0;
    if (resync() != 0) return -1;
  }
}

int resync() {
  int after_sync0 = 0;  // the hunt flag: 1 when the byte just read was 0xEB
  Delay(RESYNC_DELAY_S);
  if (in_fp == nullptr) return 1;
  FileSeek(in_fp, STEP_BACK_RECORD, SEEK_CUR);
  nskip_add(1);  // the failed record's first byte
  for (;;) {
    int c = FileGetc(in_fp);
    if (c == EOF) return 1;
    nskip_add(1);
    if (hunt_sync(&after_sync0, static_cast<uint8_t>(c)) != 0) {
      // Back onto the 0xEB; neither sync byte counts as skipped.
      FileSeek(in_fp, STEP_BACK_SYNC, SEEK_CUR);
      nskip_add(-2);
      return 0;
    }
  }
}
