#include "export/frame_csv.h"

#include "app/service.h"
#include "export/csv.h"
#include "display/fields.h"
#include "display/hkpg.h"
#include "display/spectra.h"
#include "link/frame.h"

namespace rt {

namespace {

constexpr int N48 = 48;
constexpr int N256 = 256;
constexpr int BLOCK48 = 12;
constexpr int BLOCK256 = 8;

const char* const TRACE_NAMES[4] = {"word1", "word2", "byte1", "byte2"};

// The columns before the housekeeping ones, in order. Each is written by
// frame_csv_row in the same order.
const char* const LEAD_COLUMNS[] = {
    "frame", "offset_bytes", "status", "skipped_bytes", "fcount", "kind", "sub_block", "hk_slot",
    "w2_hi", "w2_mid", "kind_value_raw", "count_k0_div1000", "elapsed_k1_s", "angle_k2_deg",
    "angle_k3_deg", "w10", "f12", "f16", "f20", "f24_k0_k2", "f24_k1_k3", "w190_k0", "w190_k1",
    "w190_k2", "w190_k3", "w192", "w194", "w196", "hk_word",
};
constexpr int LEAD = sizeof LEAD_COLUMNS / sizeof LEAD_COLUMNS[0];
// Slots 36 to 39: the two bytes of slot 36, the raw words of 37 to 39.
const char* const HK_RAW_COLUMNS[] = {"hk36_hi", "hk36_lo", "hk37_raw", "hk38_raw", "hk39_raw"};
constexpr int HK_RAW = 5;

void sep(std::string& out) { out += ','; }
void empties(std::string& out, int n) { out.append(static_cast<size_t>(n), ','); }

void hex_field(std::string& out, const uint8_t* frame) {
  static const char digits[] = "0123456789ABCDEF";
  for (int i = 0; i < FRAME_LEN; ++i) {
    out += digits[frame[i] >> 4];
    out += digits[frame[i] & 0x0F];
  }
}

}  // namespace

std::string frame_csv_header(bool hex) {
  std::string out;
  for (int i = 0; i < LEAD; ++i) {
    if (i) out += ',';
    out += LEAD_COLUMNS[i];
  }
  for (int slot = 0; slot < HK_SCALED_SLOTS; ++slot) {
    out += ",hk";
    out += static_cast<char>('0' + slot / 10);
    out += static_cast<char>('0' + slot % 10);
    out += '_';
    out += hk_unit(slot);
  }
  for (const char* name : HK_RAW_COLUMNS) {
    out += ',';
    out += name;
  }
  if (hex) out += ",hexdump";
  return out;
}

int frame_csv_columns(bool hex) { return LEAD + HK_SCALED_SLOTS + HK_RAW + (hex ? 1 : 0); }

void frame_csv_row(std::string& out, const uint8_t* frame, int64_t ordinal, int64_t offset,
                   int64_t skipped, bool hex) {
  const uint32_t count = fcount(frame);
  const int kind = fkind(frame);
  const int32_t value = kind_value(frame);
  const int hk = hk_word(frame);
  const int slot = static_cast<int>(count % HK_SLOTS);

  csv_int(out, ordinal);
  sep(out);
  if (offset != NO_OFFSET) csv_int(out, offset);
  sep(out);
  out += STATUS_OK;
  sep(out);
  csv_int(out, skipped);
  sep(out);
  csv_int(out, count);
  sep(out);
  csv_int(out, kind);
  sep(out);
  csv_int(out, fsub(frame));
  sep(out);
  csv_int(out, slot);
  sep(out);
  csv_int(out, header_high(frame));
  sep(out);
  csv_int(out, header_mid(frame));
  sep(out);
  csv_int(out, value);
  // The kind's own value: the count, the elapsed time, or an angle.
  for (int k = 0; k < 4; ++k) {
    sep(out);
    if (k != kind) continue;
    if (k == 0) csv_double(out, count_k0(value));
    else if (k == 1) csv_double(out, elapsed_k1_s(value));
    else csv_double(out, angle_deg(value));
  }
  sep(out);
  csv_int(out, frame_word(frame, OFF_W10));
  for (int off : {OFF_F12, OFF_F16, OFF_F20}) {
    sep(out);
    csv_double(out, frame_float(frame + off));
  }
  // The offset-24 float: kinds 0 and 2, or kinds 1 and 3.
  for (int odd = 0; odd < 2; ++odd) {
    sep(out);
    if ((kind & 1) == odd) csv_double(out, frame_float(frame + OFF_F24));
  }
  for (int k = 0; k < 4; ++k) {
    sep(out);
    if (k == kind) csv_int(out, frame_word(frame, OFF_W190));
  }
  for (int off : {OFF_W192, OFF_W194, OFF_W196}) {
    sep(out);
    csv_int(out, frame_word(frame, off));
  }
  sep(out);
  csv_int(out, hk);
  // Each housekeeping value only in the row of the frame that measured it.
  for (int s = 0; s < HK_SCALED_SLOTS; ++s) {
    sep(out);
    if (s == slot) csv_double(out, hk_scaled(s, hk));
  }
  sep(out);
  if (slot == HK_BYTES_SLOT) csv_int(out, hk_high_byte(hk));
  sep(out);
  if (slot == HK_BYTES_SLOT) csv_int(out, hk_low_byte(hk));
  for (int s = HK_BYTES_SLOT + 1; s < HK_SLOTS; ++s) {
    sep(out);
    if (s == slot) csv_int(out, hk);
  }
  if (hex) {
    sep(out);
    hex_field(out, frame);
  }
}

void frame_csv_failure_row(std::string& out, std::string_view status, int64_t offset, bool hex) {
  sep(out);  // no frame ordinal
  if (offset != NO_OFFSET) csv_int(out, offset);
  sep(out);
  out += csv_field(status);
  empties(out, frame_csv_columns(hex) - 3);
}

std::string frame_status_token(std::string_view text) {
  if (text == STATUS_CHECKSUM) return "checksum_failure";
  if (text == STATUS_ILLEGAL_ESCAPE) return "illegal_escape";
  if (text == STATUS_READ_FAILED) return "read_failure";
  if (text == STATUS_BAD_STATE) return "invalid_state";
  return "";
}

std::string samples_csv_header() { return "frame,trace,index,value"; }

void samples_csv_rows(std::string& out, const uint8_t* frame, int64_t ordinal) {
  for (int g = 0; g < STRIP_GROUPS; ++g) {
    uint16_t values[STRIP_TRACES];
    strip_group(frame, g, values);
    for (int t = 0; t < STRIP_TRACES; ++t) {
      csv_int(out, ordinal);
      sep(out);
      out += TRACE_NAMES[t];
      sep(out);
      csv_int(out, g);
      sep(out);
      csv_int(out, values[t]);
      out += '\n';
    }
  }
}

void spectra_csv(std::string& out, const spectra_t& s) {
  out += "spectrum,channel,position,width,total,frames,rate\n";
  auto row = [&out](int spectrum, int channel, float position, int width, int64_t total,
                    int32_t frames, float rate) {
    csv_int(out, spectrum);
    sep(out);
    csv_int(out, channel);
    sep(out);
    csv_general(out, position, 9);
    sep(out);
    csv_int(out, width);
    sep(out);
    csv_int(out, total);
    sep(out);
    csv_int(out, frames);
    sep(out);
    csv_general(out, rate, 9);
    out += '\n';
  };
  for (int i = 0; i < N48; ++i)
    row(48, i, s.ctr48[i], s.wid48[i], s.acc48[i], s.nfr48[i / BLOCK48], rate48(s, i));
  for (int i = 0; i < N256; ++i)
    row(256, i, s.ctr256[i], s.wid256[i], s.acc256[i], s.nfr256[i / BLOCK256], rate256(s, i));
}

}  // namespace rt
