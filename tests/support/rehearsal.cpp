#include "support/rehearsal.h"

#include <signal.h>

#include <filesystem>

namespace testing_process {

namespace {

const char* const TIMED_OUT = "COM1 err: too few bytes read";

}  // namespace

std::string sim_pty_path(const std::string& sim_output) {
  const size_t at = sim_output.find("pty ");
  if (at == std::string::npos) return "";
  const size_t end = sim_output.find('\n', at);
  return end == std::string::npos ? "" : sim_output.substr(at + 4, end - at - 4);
}

Rehearsal::Rehearsal(const testing_files::TempDir& dir, const std::vector<std::string>& sim_args) : dir_(dir) {
  std::vector<std::string> args{"--pty", "--save", dir.file("sent.bin")};
  args.insert(args.end(), sim_args.begin(), sim_args.end());
  sim_ = std::make_unique<Child>(gse_sim(), args, dir.path(), dir.file("sim.out"));
  std::string pty;
  if (!wait_until(10, [&] { return !(pty = sim_pty_path(sim_output())).empty(); })) {
    failure_ = "gse_sim printed no pty path: " + sim_output();
    return;
  }
  const std::string port = dir.file("port");
  std::filesystem::create_symlink(pty, port);
  station_ = std::make_unique<Child>(vst_gse(),
                                     std::vector<std::string>{"--headless", "--port", port, "--trace",
                                                              dir.file("trace.jsonl")},
                                     dir.path(), dir.file("gse.out"),
                                     std::vector<std::string>{"QT_QPA_PLATFORM=offscreen"});
  if (!wait_until(30, [&] { return trace_text().find("serial port ready") != std::string::npos; }))
    failure_ = "the station never finished its run start";
  std::filesystem::remove(port);
}

int Rehearsal::finish(double sim_timeout_s) {
  if (!sim_ || !station_ || sim_->wait(sim_timeout_s) != 0) return -2;
  wait_until(10, [&] { return trace_text().find(TIMED_OUT) != std::string::npos; });
  station_->signal(SIGTERM);
  return station_->wait(20);
}

std::vector<std::string> Rehearsal::recordings() const {
  std::vector<std::string> found;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
    if (e.path().extension() == ".dat") found.push_back(e.path().string());
  return found;
}

}  // namespace testing_process
