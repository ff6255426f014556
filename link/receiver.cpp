#include "link/receiver.h"

#include "link/frame.h"
#include "link/scanner.h"
#include "runtime/serial.h"

namespace {

constexpr int LINK_PORT = 1;
constexpr char ACK_TEXT[] = "RCVD\r";
constexpr int ACK_LEN = 5;
constexpr uint32_t ACK_EVERY = 10;

FileStream* rec_fp = nullptr;
uint32_t nrcvd = 0;

// Counts a completed frame (200 bytes stored, whatever its checksum) and
// acknowledges every tenth since start-up.
void complete_frame() {
  uint32_t completed_before = nrcvd++;
  if (completed_before % ACK_EVERY == ACK_EVERY - 1) ComWrt(LINK_PORT, ACK_TEXT, ACK_LEN);
}

// One frame off the link, without the final flush of the recording. The
// link's rules are the scanner's (link/scanner.h); this loop reads, records
// and counts.
int receive_frame(uint8_t* frame) {
  LinkScan scan;
  link_scan_start(&scan, frame);
  for (;;) {
    int got = ComRdByte(LINK_PORT);
    if (got < 0) return RX_READ_FAILED;  // the partial frame is dropped uncounted
    uint8_t byte = static_cast<uint8_t>(got & 0xFF);
    // Recorded raw, before it is interpreted: the file is the link as it came.
    if (rec_fp != nullptr) FileWrite(&byte, 1, 1, rec_fp);

    switch (link_scan_byte(&scan, byte)) {
      case SCAN_TAKEN:
        break;
      case SCAN_HUNTED:
        nskip_add(1);
        break;
      case SCAN_ILLEGAL_ESCAPE:
        nskip_add(scan_discarded(&scan, SCAN_ILLEGAL_ESCAPE));
        return RX_ILLEGAL_ESCAPE;
      case SCAN_FRAME:
        complete_frame();
        return RX_OK;
      case SCAN_BAD_CHECKSUM:
        complete_frame();
        nskip_add(scan_discarded(&scan, SCAN_BAD_CHECKSUM));
        return RX_BAD_CHECKSUM;
      default:
        return RX_BAD_STATE;
    }
  }
}

}  // namespace

void receiver_attach_recording(FileStream* fp) { rec_fp = fp; }

int get_port_frm(uint8_t* frame) {
  int result = receive_frame(frame);
  // Hands the call's bytes on to the operating system now rather than at the
  // run-time's next round. Its failures are the run-time's to report.
  if (rec_fp != nullptr) FileFlush(rec_fp);
  return result;
}

uint32_t nrcvd_count() { return nrcvd; }

void receiver_reset_for_tests() { nrcvd = 0; }
