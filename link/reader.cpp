#include "link/reader.h"

#include "link/frame.h"
#include "runtime/ui.h"

namespace {

constexpr double PACING_DELAY_S = 0.1;
constexpr double RESYNC_DELAY_S = 1.0;
// A failed record has just been read whole: stepping back this far puts the
// stream on its second byte, so its own sync word is not found again.
constexpr long STEP_BACK_RECORD = -(FRAME_LEN - 1);
constexpr long STEP_BACK_SYNC = -2;

FILE* in_fp = nullptr;

}  // namespace

void reader_attach(FILE* fp) { in_fp = fp; }

int get_file_frm(uint8_t* frame) {
  Delay(PACING_DELAY_S);
  for (;;) {
    if (in_fp == nullptr || std::fread(frame, FRAME_LEN, 1, in_fp) != 1) return -1;
    if (checksum_ok(frame)) return 0;
    if (resync() != 0) return -1;
  }
}

int resync() {
  int after_sync0 = 0;  // 1 when the byte just read was 0xEB
  Delay(RESYNC_DELAY_S);
  if (in_fp == nullptr) return 1;
  std::fseek(in_fp, STEP_BACK_RECORD, SEEK_CUR);
  nskip_add(1);  // the failed record's first byte
  for (;;) {
    int c = std::getc(in_fp);
    if (c == EOF) return 1;
    nskip_add(1);
    if (after_sync0 == 0) {
      after_sync0 = (c == SYNC0) ? 1 : 0;
    } else if (c == SYNC1) {
      // Back onto the 0xEB; neither sync byte counts as skipped.
      std::fseek(in_fp, STEP_BACK_SYNC, SEEK_CUR);
      nskip_add(-2);
      return 0;
    } else {
      // Not examined again as a possible 0xEB.
      after_sync0 = 0;
    }
  }
}
