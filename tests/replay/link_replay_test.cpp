// --link-replay against the live station: gse_sim plays the instrument on a
// pseudo-terminal with escape-heavy frames, noise and faults; vst_gse
// receives it live and records it; then --link-replay of that recording
// must show the same frames, values, status texts and skipped counts, and
// the plain playback of it must still skip the escaped frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"
#include "support/rehearsal.h"
#include "support/trace_reader.h"

namespace {

using testing_files::read_file;
using testing_files::read_text;
using testing_files::TempDir;

const std::string TIMED_OUT = "COM1 err: too few bytes read";

std::vector<std::string> recordings_in(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".dat") found.push_back(e.path().string());
  return found;
}

// What the station showed: every panel call in order, without the port's
// calls (there is no port in a replay), the title (it names the mode), the
// events (the live session ends by a signal, the replay by itself) and the
// silent link at the end.
std::vector<std::string> shown(const std::string& trace_text) {
  static const std::set<std::string> not_shown = {
      "OpenComConfig", "SetComTime", "ComWrt", "ComWrtByte", "CloseCom", "SetPanelAttribute", "Event",
      "DiscardPanel"};
  std::vector<std::string> out;
  for (const auto& l : testing_trace::parse(trace_text))
    if (!not_shown.count(l.op)) out.push_back(l.raw);
  while (!out.empty() && out.back().find("\"PANEL_STATUS\"") != std::string::npos &&
         out.back().find(TIMED_OUT) != std::string::npos)
    out.pop_back();
  return out;
}

// The frame a hex dump shows.
std::vector<uint8_t> frame_of(const std::string& dump) {
  std::vector<uint8_t> bytes;
  std::string hex;
  for (char c : dump)
    if (c != '\n') hex += c;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

bool carried_escapes(const std::string& dump) {
  const std::vector<uint8_t> f = frame_of(dump);
  const std::vector<uint8_t> escape{'+', '+', '-'};
  return std::search(f.begin(), f.end(), escape.begin(), escape.end()) != f.end();
}

std::vector<std::string> dumps_in(const std::string& trace_text) {
  std::vector<std::string> out;
  for (const auto& l : testing_trace::select(testing_trace::parse(trace_text), "SetCtrlVal", "PANEL_HEXDUMP"))
    out.push_back(l.field("value"));
  return out;
}

TEST(LinkReplay, shows_every_frame_value_and_skipped_count_that_the_live_station_showed) {
  TempDir live;
  testing_process::Rehearsal station(live, {"--seed", "17", "--frames", "90", "--escapes", "0.4", "--noise", "0.15",
                                            "--bad-checksum", "0.05", "--illegal-escape", "0.05", "--cut", "0.05"});
  ASSERT_EQ(station.failure(), "");
  // The link is silent after the last frame: the station says so, then is
  // stopped as an operator would.
  ASSERT_EQ(station.finish(120), 0) << station.sim_output();
  ASSERT_NE(station.trace_text().find(TIMED_OUT), std::string::npos);

  const auto recordings = recordings_in(live.path());
  ASSERT_EQ(recordings.size(), 1u);
  const std::vector<uint8_t> recorded = read_file(recordings[0]);
  const std::vector<uint8_t> sent = read_file(live.file("sent.bin"));
  ASSERT_FALSE(recorded.empty());
  ASSERT_LE(recorded.size(), sent.size());
  // The run start drained what came before it: the recording is the rest of
  // what gse_sim put on the link, byte for byte.
  ASSERT_TRUE(std::equal(recorded.begin(), recorded.end(), sent.end() - static_cast<long>(recorded.size())));

  TempDir replay;
  const auto r = testing_process::run(
      testing_process::vst_gse(),
      {"--headless", "--speed", "0", "--link-replay", recordings[0], "--trace", replay.file("replay.jsonl")},
      replay.path(), 120.0, {"QT_QPA_PLATFORM=offscreen"});
  ASSERT_EQ(r.exit_code, 0) << "ends by itself once the link falls silent\n" << r.out << r.err;
  EXPECT_EQ(recordings_in(replay.path()).size(), 0u) << "a replay records nothing";

  const std::string live_trace = station.trace_text();
  const std::string replay_trace = read_text(replay.file("replay.jsonl"));
  const auto live_shown = shown(live_trace);
  const auto replay_shown = shown(replay_trace);
  const auto live_dumps = dumps_in(live_trace);
  ASSERT_GE(live_dumps.size(), 40u) << "enough frames after the drain to judge";
  EXPECT_EQ(replay_shown.size(), live_shown.size());
  for (size_t i = 0; i < std::min(live_shown.size(), replay_shown.size()); ++i)
    ASSERT_EQ(replay_shown[i], live_shown[i]) << "first difference at panel call " << i;
  EXPECT_EQ(testing_trace::select(testing_trace::parse(replay_trace), "ComWrt").size(),
            testing_trace::select(testing_trace::parse(live_trace), "ComWrt").size())
      << "the same acknowledgements were due (and went nowhere)";

  // The escaped frames were shown live and again in the replay; the plain
  // reader skips every one of them.
  const long escaped = std::count_if(live_dumps.begin(), live_dumps.end(), carried_escapes);
  EXPECT_GE(escaped, 10) << "escape-heavy frames among those shown";
  TempDir plain;
  const auto p = testing_process::run(
      testing_process::vst_gse(), {"--headless", "--speed", "0", "--trace", plain.file("plain.jsonl"), recordings[0]},
      plain.path(), 120.0, {"QT_QPA_PLATFORM=offscreen"});
  ASSERT_EQ(p.exit_code, 0) << p.out << p.err;
  const auto plain_dumps = dumps_in(read_text(plain.file("plain.jsonl")));
  EXPECT_EQ(std::count_if(plain_dumps.begin(), plain_dumps.end(), carried_escapes), 0)
      << "the playback reader does not undo escapes";
  EXPECT_LT(plain_dumps.size(), live_dumps.size()) << "it shows fewer frames than the station did";
}

}  // namespace
