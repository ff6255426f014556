#include "app/service.h"

#include <chrono>
#include <cstdint>
#include <cstring>

#include "ui/panel.h"
#include "display/decoder.h"
#include "link/frame.h"
#include "link/reader.h"
#include "link/receiver.h"
#include "runtime/serial.h"
#include "runtime/ui.h"

namespace {

constexpr int COM_PORT = 1;
constexpr double DRAIN_TIMEOUT_S = 0.1;
constexpr double LINK_TIMEOUT_S = 1.05;
constexpr int32_t NACC_LIVE = 1000;
constexpr int32_t NACC_PLAYBACK = 10000;
constexpr int32_t XMIN_DEFAULT = 0;
constexpr int32_t XMAX_DEFAULT = 4095;
constexpr float YMIN_DEFAULT = 0.001f;
constexpr float YMAX_DEFAULT = 10.0f;
constexpr double YLOG_FLOOR = 0.0001;  // lowest ymin on a logarithmic y axis
constexpr int HEX_LEN = 408;           // 200 bytes, 2 digits each, 8 newlines

// Command strings of the command switch: on, and off (also sent on quit).
constexpr uint8_t CMD_OFF[] = {0x33, 0x0D};
constexpr int CMD_ON_REPEAT = 50;
constexpr uint8_t CMD_ON_FILL = 0x41;
constexpr uint8_t CMD_ON_TAIL[] = {0x0D, 0x0A, 0x31, 0x0D};

// Run state.
int32_t nacc;
int32_t acc_on;
int32_t xmin, xmax;
float ymin, ymax;
int ev_panel, ev_ctrl;
uint8_t frame[FRAME_LEN];
char status_text[31];
char hex_text[HEX_LEN + 1];

void send_bytes(const uint8_t* bytes, int n) {
  for (int i = 0; i < n; ++i) ComWrtByte(COM_PORT, bytes[i]);
}

void send_command(int on) {
  if (on) {
    for (int i = 0; i < CMD_ON_REPEAT; ++i) ComWrtByte(COM_PORT, CMD_ON_FILL);
    send_bytes(CMD_ON_TAIL, sizeof CMD_ON_TAIL);
  } else {
    send_bytes(CMD_OFF, sizeof CMD_OFF);
  }
}

// Throws away what is pending on the link, unrecorded and uncounted: until
// it stays silent for the short time-out, or the drain limits are reached.
void drain_port() {
  auto start = std::chrono::steady_clock::now();
  long drained = 0;
  while (ComRdByte(COM_PORT) >= 0) {
    std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    if (++drained >= DRAIN_LIMIT_BYTES || spent.count() >= DRAIN_LIMIT_S) break;
  }
}

void run_start(int panel, int file_mode, spectra_t& spectra) {
  if (file_mode == 0) {
    SetCtrlVal(panel, PANEL_STATUS, "setting up serial port");
    SetComTime(COM_PORT, DRAIN_TIMEOUT_S);
    drain_port();
    SetComTime(COM_PORT, LINK_TIMEOUT_S);
    nacc = NACC_LIVE;
    SetCtrlVal(panel, PANEL_STATUS, "serial port ready");
  } else {
    nacc = NACC_PLAYBACK;
  }
  xmin = XMIN_DEFAULT;
  xmax = XMAX_DEFAULT;
  ymin = YMIN_DEFAULT;
  ymax = YMAX_DEFAULT;
  acc_on = 1;
  spectra_zero256(spectra);
}

void set_x_axis() {
  SetAxisRange(ev_panel, PANEL_SPEC256, AXIS_MANUAL, xmin, xmax, AXIS_KEEP, ymin, ymax);
}

void set_y_axis() {
  SetAxisRange(ev_panel, PANEL_SPEC256, AXIS_KEEP, xmin, xmax, AXIS_MANUAL, ymin, ymax);
}

// Handles the event in ev_panel/ev_ctrl. Returns -1 to go on with the run,
// else the result of service.
int handle_event(int panel, int file_mode, spectra_t& spectra) {
  int on = 0;
  switch (ev_ctrl) {
    case PANEL_QUIT:
      if (file_mode == 0) send_bytes(CMD_OFF, sizeof CMD_OFF);
      return 1;
    case PANEL_XMIN:
      GetCtrlVal(ev_panel, ev_ctrl, &xmin);
      set_x_axis();
      return -1;
    case PANEL_XMAX:
      GetCtrlVal(ev_panel, ev_ctrl, &xmax);
      set_x_axis();
      return -1;
    case PANEL_YMIN:
      GetCtrlVal(ev_panel, ev_ctrl, &ymin);
      set_y_axis();
      return -1;
    case PANEL_YMAX:
      GetCtrlVal(ev_panel, ev_ctrl, &ymax);
      set_y_axis();
      return -1;
    case PANEL_COUNT:
      GetCtrlVal(ev_panel, ev_ctrl, &nacc);
      return -1;
    case PANEL_CLEAR:
      spectra_clear(spectra, panel);
      return -1;
    case PANEL_ACCUM:
      GetCtrlVal(ev_panel, ev_ctrl, &acc_on);
      if (acc_on == 0) SetCtrlAttribute(ev_panel, PANEL_COUNT, ATTR_DONE_LOOK, DONE_LOOK_ON);
      return -1;
    case PANEL_XLOG:
      GetCtrlVal(ev_panel, ev_ctrl, &on);
      SetCtrlAttribute(ev_panel, PANEL_SPEC256, ATTR_XMAP_LOG, on != 0 ? 1 : 0);
      return -1;
    case PANEL_YLOG:
      GetCtrlVal(ev_panel, ev_ctrl, &on);
      // The float nearest 0.0001 is below the double 0.0001, so every
      // switch-on repeats this; it writes the graph, never PANEL_YMIN.
      if (on == 1 && static_cast<double>(ymin) < YLOG_FLOOR) {
        ymin = static_cast<float>(YLOG_FLOOR);
        set_y_axis();
      }
      SetCtrlAttribute(ev_panel, PANEL_SPEC256, ATTR_YMAP_LOG, on != 0 ? 1 : 0);
      return -1;
    case PANEL_CMD:
      if (file_mode != 0) return -1;  // nothing to command in playback
      GetCtrlVal(ev_panel, ev_ctrl, &on);
      send_command(on);
      return -1;
    default:
      // Displays, graphs and unknown identifiers end the run.
      return 0;
  }
}

const char* failure_text(int file_mode, int result) {
  if (file_mode != 0) return STATUS_EOF;
  switch (result) {
    case RX_BAD_STATE: return STATUS_BAD_STATE;
    case RX_ILLEGAL_ESCAPE: return STATUS_ILLEGAL_ESCAPE;
    case RX_READ_FAILED: return STATUS_READ_FAILED;
    default: return STATUS_CHECKSUM;
  }
}

constexpr int HEX_ROW = 32;  // bytes a line

#if defined(__GNUC__)
// Sixteen bytes as their 32 upper-case hex digits, high digit first, in the
// compiler's portable vectors (SSE2 on x86-64): each nibble n becomes
// '0' + n, and 7 more for the letters.
typedef uint8_t Bytes16 __attribute__((vector_size(16)));

Bytes16 hex_digit(Bytes16 n) { return n + '0' + ((n > 9) & 7); }

void hex16(const uint8_t* bytes, char* out) {
  Bytes16 v;
  std::memcpy(&v, bytes, sizeof v);
  const Bytes16 high = v >> 4;
  const Bytes16 low = v & 15;
  const Bytes16 first = __builtin_shufflevector(high, low, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
  const Bytes16 second =
      __builtin_shufflevector(high, low, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
  const Bytes16 digits[2] = {hex_digit(first), hex_digit(second)};
  std::memcpy(out, digits, sizeof digits);
}

// The same for eight bytes (a frame's last row), 16 digits.
void hex8(const uint8_t* bytes, char* out) {
  Bytes16 v = {};
  std::memcpy(&v, bytes, 8);
  const Bytes16 digits =
      hex_digit(__builtin_shufflevector(v >> 4, v & 15, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23));
  std::memcpy(out, &digits, sizeof digits);
}
#endif

// n bytes as their upper-case hex digits, two a byte.
char* hex_digits(const uint8_t* bytes, int n, char* out) {
  int i = 0;
#if defined(__GNUC__)
  for (; i + 16 <= n; i += 16, out += 32) hex16(bytes + i, out);
  for (; i + 8 <= n; i += 8, out += 16) hex8(bytes + i, out);
#endif
  static constexpr char HEX[] = "0123456789ABCDEF";
  for (; i < n; ++i) {
    *out++ = HEX[bytes[i] >> 4];
    *out++ = HEX[bytes[i] & 0x0F];
  }
  return out;
}

// "\n%02X" at every 32nd byte, "%02X" otherwise, and a final "\n"; a row
// at a time (a frame at a time in fast playback).
void build_hex_dump() {
  char* out = hex_text;
  for (int row = 0; row < FRAME_LEN; row += HEX_ROW) {
    *out++ = '\n';
    out = hex_digits(frame + row, row + HEX_ROW < FRAME_LEN ? HEX_ROW : FRAME_LEN - row, out);
  }
  *out++ = '\n';
  *out = '\0';
}

void frame_pass(int panel, int file_mode, spectra_t& spectra) {
  int result = file_mode != 0 ? get_file_frm(frame) : get_port_frm(frame);
  if (result != 0) {
    std::strcpy(status_text, failure_text(file_mode, result));
    SetCtrlVal(panel, PANEL_STATUS, status_text);
    return;
  }
  std::strcpy(status_text, " ");
  frm_process(frame, spectra, panel, acc_on);
  spectra_redraw48(spectra, panel);
  if (acc_on != 0) {
    if (nacc != 0) {
      spectra_redraw256(spectra, panel);
      // Wraps instead of overflowing: a negative count never reaches 0.
      nacc = static_cast<int32_t>(static_cast<uint32_t>(nacc) - 1u);
      SetCtrlVal(panel, PANEL_COUNT, static_cast<int>(nacc));
    } else {
      SetCtrlAttribute(panel, PANEL_COUNT, ATTR_DONE_LOOK, DONE_LOOK_ON);
      acc_on = 0;
      SetCtrlVal(panel, PANEL_ACCUM, 0);
    }
  }
  build_hex_dump();
  SetCtrlVal(panel, PANEL_HEXDUMP, hex_text);
  SetCtrlVal(panel, PANEL_SKIPPED, static_cast<int>(nskip_count()));
  SetCtrlVal(panel, PANEL_STATUS, status_text);
}

}  // namespace

int service(int panel, int file_mode, spectra_t& spectra) {
  run_start(panel, file_mode, spectra);
  for (;;) {
    if (GetUserEvent(0, &ev_panel, &ev_ctrl) != 0) {
      int result = handle_event(panel, file_mode, spectra);
      if (result >= 0) return result;
    } else {
      frame_pass(panel, file_mode, spectra);
    }
  }
}
