#include "support/broker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/process.h"

namespace testing_broker {

namespace {

int free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    throw std::runtime_error("no free loopback port");
  ::close(fd);
  return ntohs(a.sin_port);
}

bool accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

void run_or_throw(const std::string& command) {
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) throw std::runtime_error("failed: " + command);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every `from` in `text` made `to`; throws when there is none (the shipped
// file changed under the test).
void replace_all(std::string& text, const std::string& from, const std::string& to, const std::string& file) {
  size_t at = text.find(from);
  if (at == std::string::npos) throw std::runtime_error(file + " no longer has \"" + from + "\"");
  for (; at != std::string::npos; at = text.find(from, at + to.size())) text.replace(at, from.size(), to);
}

// Starts argv as the test's child, its output into `log`.
pid_t spawn(const std::vector<std::string>& argv, const std::string& log) {
  const pid_t test = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    testing_process::become_test_child(test);
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

void end(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) {
      pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  pid = -1;
}

}  // namespace

Broker::Broker(const std::string& dir, BrokerOptions options, WebOptions web)
    : dir_(dir), options_(std::move(options)), web_(std::move(web)) {
  if (!options_.user.empty())
    run_or_throw("mosquitto_passwd -b -c '" + dir_ + "/passwords' '" + options_.user + "' '" + options_.password + "'");
  if (!web_.user2.empty())
    run_or_throw("mosquitto_passwd -b '" + dir_ + "/passwords' '" + web_.user2 + "' '" + web_.password2 + "'");
  if (!web_.shipped.empty()) std::ofstream(dir_ + "/acl") << read_file(web_.shipped + "/vst_gse-web.acl");
  else if (!web_.acl.empty()) std::ofstream(dir_ + "/acl") << web_.acl;
  if (options_.tls) make_certificates();
  // Another program may take the free port between the look and the
  // broker's bind: then try another.
  for (int attempt = 0;; ++attempt) {
    port_ = free_port();
    if (!web_.http_dir.empty()) ws_port_ = free_port();
    if (!web_.shipped.empty()) ws_inner_port_ = free_port();
    try {
      start();
      return;
    } catch (const std::runtime_error&) {
      end(stunnel_pid_);
      if (attempt == 4) throw;
    }
  }
}

Broker::~Broker() {
  end(stunnel_pid_);
  end(pid_);
}

std::string Broker::url(const std::string& prefix) const {
  return (options_.tls ? "mqtts://localhost:" : "mqtt://127.0.0.1:") + std::to_string(port_) + "/" + prefix;
}

void Broker::make_certificates() {
  const std::string d = dir_ + "/";
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  run_or_throw("openssl req -x509" + key + " -keyout " + d + "ca.key -out " + d + "ca.crt -days 2 -subj /CN=vst-test-ca");
  run_or_throw("openssl req -x509" + key + " -keyout " + d + "other-ca.key -out " + d +
               "other-ca.crt -days 2 -subj /CN=vst-other-ca");
  run_or_throw("openssl req" + key + " -keyout " + d + "server.key -out " + d + "server.csr -subj /CN=localhost");
  std::ofstream(d + "server.ext") << "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
  run_or_throw("openssl x509 -req -in " + d + "server.csr -CA " + d + "ca.crt -CAkey " + d + "ca.key -CAcreateserial -out " +
               d + "server.crt -days 2 -extfile " + d + "server.ext");
}

void Broker::write_config(const std::string& conf) const {
  std::ofstream out(conf);
  // As root the broker would switch to the "mosquitto" user, who cannot
  // read the test's folder.
  if (::geteuid() == 0) out << "user root\n";
  out << "persistence false\n"
      << "listener " << port_ << " 127.0.0.1\n"
      << "allow_anonymous " << (options_.user.empty() ? "true" : "false") << "\n";
  if (!options_.user.empty()) out << "password_file " << dir_ << "/passwords\n";
  if (options_.max_packet_size > 0) out << "max_packet_size " << options_.max_packet_size << "\n";
  if (options_.tls)
    out << "cafile " << dir_ << "/ca.crt\ncertfile " << dir_ << "/server.crt\nkeyfile " << dir_ << "/server.key\n";
  if (!web_.acl.empty()) out << "acl_file " << dir_ << "/acl\n";
  // Last: the lines after a listener are its own.
  if (!web_.http_dir.empty())
    out << "listener " << ws_port_ << " 127.0.0.1\nprotocol websockets\nhttp_dir " << web_.http_dir << "\n";
}

void Broker::write_shipped_config(const std::string& conf) const {
  const std::string file = web_.shipped + "/vst_gse-web.conf";
  std::string text = read_file(file);
  replace_all(text, "listener 8883\n", "listener " + std::to_string(port_) + " 127.0.0.1\n", file);
  replace_all(text, "listener 8080 127.0.0.1\n", "listener " + std::to_string(ws_inner_port_) + " 127.0.0.1\n", file);
  replace_all(text, "/etc/mosquitto/vst_gse.passwords", dir_ + "/passwords", file);
  replace_all(text, "/etc/mosquitto/vst_gse.acl", dir_ + "/acl", file);
  replace_all(text, "/etc/mosquitto/certs/broker.", dir_ + "/server.", file);
  replace_all(text, "/usr/share/vst_gse/web", web_.http_dir, file);
  std::ofstream(conf) << (::geteuid() == 0 ? "user root\n" : "") << "persistence false\n" << text;

  const std::string tunnel_file = web_.shipped + "/vst_gse-web-stunnel.conf";
  std::string tunnel = read_file(tunnel_file);
  replace_all(tunnel, "accept = 8081\n", "accept = 127.0.0.1:" + std::to_string(ws_port_) + "\n", tunnel_file);
  replace_all(tunnel, "connect = 127.0.0.1:8080\n", "connect = 127.0.0.1:" + std::to_string(ws_inner_port_) + "\n",
              tunnel_file);
  replace_all(tunnel, "/etc/mosquitto/certs/broker.", dir_ + "/server.", tunnel_file);
  std::ofstream(dir_ + "/stunnel.conf") << tunnel;
}

void Broker::start() {
  const std::string conf = dir_ + "/mosquitto.conf";
  if (web_.shipped.empty()) write_config(conf);
  else write_shipped_config(conf);
  const std::string log = dir_ + "/broker.log";
  pid_ = spawn({"mosquitto", "-c", conf}, log);
  // stunnel stays when the broker is killed and started again, as it would
  // on the broker's machine.
  if (!web_.shipped.empty() && stunnel_pid_ <= 0)
    stunnel_pid_ = spawn({"stunnel4", dir_ + "/stunnel.conf"}, dir_ + "/stunnel.log");
  const bool up = testing_process::wait_until(10, [&] {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return true;
    }
    if (stunnel_pid_ > 0 && ::waitpid(stunnel_pid_, nullptr, WNOHANG) == stunnel_pid_) {
      stunnel_pid_ = -1;
      return true;
    }
    return accepts(port_) && (ws_port_ == 0 || accepts(ws_port_)) &&
           (ws_inner_port_ == 0 || accepts(ws_inner_port_));
  });
  if (!up || pid_ <= 0 || (!web_.shipped.empty() && stunnel_pid_ <= 0)) {
    if (pid_ > 0) kill();
    throw std::runtime_error("mosquitto did not start on port " + std::to_string(port_) + " (see " + log +
                             (web_.shipped.empty() ? "" : " and " + dir_ + "/stunnel.log") + ")");
  }
}

void Broker::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void Broker::restart() {
  kill();
  // The port was just freed; it is this test's until someone else binds it.
  for (int attempt = 0;; ++attempt) {
    try {
      start();
      return;
    } catch (const std::runtime_error&) {
      if (attempt == 20) throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
}

void Broker::pause() {
  if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void Broker::resume() {
  if (pid_ > 0) ::kill(pid_, SIGCONT);
}

DeadListener::DeadListener() {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0 || ::listen(listener_, 0) != 0)
    throw std::runtime_error("no loopback listener");
  port_ = ntohs(a.sin_port);
  // The one connection the backlog holds; the kernel drops the next ones' SYNs.
  filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (filler_ < 0 || ::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    throw std::runtime_error("cannot fill the listener's backlog");
}

DeadListener::~DeadListener() {
  if (filler_ >= 0) ::close(filler_);
  if (listener_ >= 0) ::close(listener_);
}

std::string DeadListener::url(const std::string& prefix) const {
  return "mqtt://127.0.0.1:" + std::to_string(port_) + "/" + prefix;
}

int publish(const Broker& broker, const std::string& topic, const std::string& payload_file, const std::string& dir) {
  return testing_process::run("/usr/bin/mosquitto_pub",
                              {"-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-V", "mqttv5", "-t", topic,
                               "-f", payload_file},
                              dir, 20)
      .exit_code;
}

}  // namespace testing_broker
