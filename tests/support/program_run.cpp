#include "support/program_run.h"

#include <chrono>
#include <thread>

#include "app/entry.h"
#include "link/frame.h"
#include "link/receiver.h"
#include "replay/link_replay_port.h"
#include "runtime/com_port.h"
#include "runtime/context.h"
#include "runtime/panel_file.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "support/files.h"

namespace testing_program {

testing_frames::Frame counted_frame(uint32_t n) {
  testing_frames::FrameBuilder b;
  b.counter(n);
  for (int i = 0; i < 12; ++i) b.spec48(i, static_cast<int>(7 * n + 3 * static_cast<uint32_t>(i) + 1));
  for (int i = 0; i < 8; ++i) b.spec256(i, static_cast<int>(11 * n + 5 * static_cast<uint32_t>(i) + 2));
  return b.bytes;
}

ProgramRun::ProgramRun(const std::string& path, const std::vector<uint8_t>& recording,
                       double speed, bool quit_at_end, const std::string& script,
                       bool start_paused, rt::WindowHooks window) {
  rt::reset_ui_for_tests();
  if (window.create) rt::set_window_hooks(std::move(window));
  nskip_reset_for_tests();
  testing_files::write_file(path, recording);
  rt::trace_to_memory();
  rt::set_speed(speed);
  rt::set_quit_at_end_of_input(quit_at_end);
  rt::transport_set_source(path);
  rt::transport_set_paused(start_paused);
  if (!script.empty()) {
    std::vector<rt::ScriptEvent> events;
    std::string error;
    rt::PanelLayout layout;
    const std::string panel = testing_files::source_dir() + "/ui/gse.uir";
    if (!rt::parse_event_text(script, "script", &events, &error) ||
        !rt::read_panel_file(panel, 1, &layout, &error) ||
        !rt::check_event_script(&events, layout, "script", &error))
      throw std::runtime_error(error);
    rt::set_event_script(std::move(events));
  }
  done_ = std::async(std::launch::async, [path] {
    std::string program = "vst_gse", file = path;
    char* argv[] = {program.data(), file.data(), nullptr};
    return gse_main(2, argv);
  });
}

ProgramRun::~ProgramRun() {
  if (done_.valid() && !finished(0.0)) {
    rt::transport_set_paused(false);
    rt::request_quit();
    done_.wait();
  }
}

bool ProgramRun::finished(double timeout_s) {
  return done_.wait_for(std::chrono::duration<double>(timeout_s)) == std::future_status::ready;
}

int ProgramRun::exit_code() { return done_.get(); }

std::vector<testing_trace::Line> ProgramRun::trace() const {
  std::string text;
  for (const std::string& line : rt::trace_lines()) text += line + "\n";
  return testing_trace::parse(text);
}

LinkReplayRun::LinkReplayRun(const std::string& path, const std::vector<uint8_t>& bytes, bool start_paused) {
  rt::reset_ui_for_tests();
  rt::reset_serial_for_tests();
  nskip_reset_for_tests();
  receiver_reset_for_tests();
  testing_files::write_file(path, bytes);
  rt::trace_to_memory();
  rt::set_speed(0);
  rt::set_quit_at_end_of_input(true);
  rt::set_com_port(rt::make_link_replay_port());
  rt::set_com_path(path);
  rt::transport_set_link_replay(path);
  rt::set_no_recording("link replay");
  rt::transport_set_paused(start_paused);
  done_ = std::async(std::launch::async, [] {
    std::string program = "vst_gse";
    char* argv[] = {program.data(), nullptr};
    return gse_main(1, argv);
  });
}

LinkReplayRun::~LinkReplayRun() {
  if (done_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    rt::transport_set_paused(false);
    rt::request_quit();
  }
  done_.wait();
  rt::reset_serial_for_tests();
}

bool LinkReplayRun::finished(double timeout_s) {
  return done_.wait_for(std::chrono::duration<double>(timeout_s)) == std::future_status::ready;
}

std::vector<std::string> hex_dumps(const std::vector<testing_trace::Line>& trace) {
  std::vector<std::string> out;
  for (const auto& l : testing_trace::select(trace, "SetCtrlVal", "PANEL_HEXDUMP"))
    out.push_back(l.field("value"));
  return out;
}

std::string last_hex_dump() {
  std::string text;
  for (const std::string& line : rt::trace_lines()) text += line + "\n";
  const auto dumps = hex_dumps(testing_trace::parse(text));
  return dumps.empty() ? "" : dumps.back();
}

}  // namespace testing_program
