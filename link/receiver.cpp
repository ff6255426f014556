#include "link/receiver.h"

#include "link/frame.h"
#include "runtime/serial.h"

namespace {

constexpr int LINK_PORT = 1;
constexpr uint8_t PLUS = 0x2B;   // '+'
constexpr uint8_t MINUS = 0x2D;  // '-'
constexpr uint8_t ONE = 0x31;    // '1'
constexpr char ACK_TEXT[] = "RCVD\r";
constexpr int ACK_LEN = 5;
constexpr uint32_t ACK_EVERY = 10;

// Where the receiver stands in the byte stream. The values are the ones the
// link's documentation numbers its states with.
enum RxState : int {
  HUNT_SYNC0 = 0,  // hunting for 0xEB
  HUNT_SYNC1 = 1,  // 0xEB stored, expecting 0x90
  DATA = 2,        // plain frame data
  ONE_PLUS = 3,    // one '+' stored
  TWO_PLUS = 4,    // "++" stored; a '-' now starts an escape
  ESCAPE = 5,      // "++-" seen: '-' stands for '+', '1' for '-'
};

FileStream* rec_fp = nullptr;
uint32_t nrcvd = 0;

// One frame off the link, without the final flush of the recording.
int receive_frame(uint8_t* frame) {
  int state = HUNT_SYNC0;
  int n_stored = 0;
  while (n_stored < FRAME_LEN) {
    int got = ComRdByte(LINK_PORT);
    if (got < 0) return RX_READ_FAILED;  // the partial frame is dropped uncounted
    uint8_t byte = static_cast<uint8_t>(got & 0xFF);
    // Recorded raw, before it is interpreted: the file is the link as it came.
    if (rec_fp != nullptr) FileWrite(&byte, 1, 1, rec_fp);

    switch (state) {
      case HUNT_SYNC0:
        if (byte == SYNC0) {
          frame[n_stored++] = byte;
          state = HUNT_SYNC1;
        } else {
          nskip_add(1);
        }
        break;
      case HUNT_SYNC1:
        if (byte == SYNC1) {
          frame[n_stored++] = byte;
          state = DATA;
        } else {
          // Drops the stored 0xEB; this byte is not taken as a new 0xEB.
          n_stored = 0;
          nskip_add(1);
          state = HUNT_SYNC0;
        }
        break;
      case DATA:
        frame[n_stored++] = byte;
        state = (byte == PLUS) ? ONE_PLUS : DATA;
        break;
      case ONE_PLUS:
        frame[n_stored++] = byte;
        state = (byte == PLUS) ? TWO_PLUS : DATA;
        break;
      case TWO_PLUS:
        if (byte == MINUS) {
          state = ESCAPE;  // the '-' itself is not stored
        } else {
          frame[n_stored++] = byte;  // a third '+' too: pairs start over
          state = DATA;
        }
        break;
      case ESCAPE:
        if (byte == MINUS) {
          frame[n_stored++] = PLUS;
        } else if (byte == ONE) {
          frame[n_stored++] = MINUS;
        } else {
          nskip_add(n_stored);
          return RX_ILLEGAL_ESCAPE;
        }
        state = DATA;
        break;
      default:
        return RX_BAD_STATE;
    }
  }

  // Completed frames are counted and acknowledged whatever their checksum.
  uint32_t completed_before = nrcvd++;
  if (completed_before % ACK_EVERY == ACK_EVERY - 1) ComWrt(LINK_PORT, ACK_TEXT, ACK_LEN);

  if (!checksum_ok(frame)) {
    nskip_add(FRAME_LEN);
    return RX_BAD_CHECKSUM;
  }
  return RX_OK;
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
