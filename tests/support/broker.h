// A real MQTT broker for tests: mosquitto on a free loopback port, with its
// configuration (and, when asked, a password file and TLS certificates made
// with openssl) written in a folder of the test's own. The broker (and the
// stunnel in front of it, when asked) is this object's child: kill() and the
// destructor end it by its process id, never anything else.
#pragma once

#include <string>
#include <sys/types.h>

namespace testing_broker {

struct BrokerOptions {
  std::string user, password;  // a password file with this one login; "" = anonymous
  bool tls = false;            // TLS with a CA made for the test (ca_file())
  int max_packet_size = 0;     // the largest packet it takes (and announces); 0 = its default
};

// The browser view's broker: a second login, an ACL, and a WebSockets
// listener of its own (ws_port()) serving the files of `http_dir`.
struct WebOptions {
  std::string user2, password2;  // a second login in the password file
  std::string acl;               // the text of an ACL file ("user NAME\ntopic read ...")
  std::string http_dir;
  // The example configuration in this folder (dist/mosquitto) run as
  // shipped, its ports and paths made the test's: the station's listener
  // with TLS (port(), a CA made for the test), the browsers' WebSockets
  // listener on loopback behind stunnel's TLS (ws_port()), its ACL file
  // (`acl` is not used). Needs BrokerOptions::tls.
  std::string shipped;
};

class Broker {
 public:
  // Writes the configuration into `dir` and starts the broker; throws
  // std::runtime_error when it does not take connections within 10 s.
  Broker(const std::string& dir, BrokerOptions options = {}, WebOptions web = {});
  ~Broker();
  Broker(const Broker&) = delete;
  Broker& operator=(const Broker&) = delete;

  int port() const { return port_; }
  int ws_port() const { return ws_port_; }
  // mqtt://127.0.0.1:PORT/PREFIX, or mqtts://localhost:PORT/PREFIX.
  std::string url(const std::string& prefix) const;
  // TLS: the CA that signed the broker's certificate, and one that did not.
  std::string ca_file() const { return dir_ + "/ca.crt"; }
  std::string other_ca_file() const { return dir_ + "/other-ca.crt"; }
  // The broker's certificate (the one browsers are shown).
  std::string cert_file() const { return dir_ + "/server.crt"; }

  // Kills the broker at once (SIGKILL) and waits for it.
  void kill();
  // Starts it again on the same port; throws as the constructor does.
  void restart();
  // Stops it where it stands (SIGSTOP) and lets it go on (SIGCONT): its
  // connections stay open, it answers nothing meanwhile.
  void pause();
  void resume();
  bool running() const { return pid_ > 0; }

 private:
  void start();
  void write_config(const std::string& conf) const;
  void write_shipped_config(const std::string& conf) const;
  void make_certificates();

  std::string dir_;
  BrokerOptions options_;
  WebOptions web_;
  int port_ = 0;
  int ws_port_ = 0;
  int ws_inner_port_ = 0;  // shipped: mosquitto's WebSockets listener, behind stunnel
  pid_t pid_ = -1;
  pid_t stunnel_pid_ = -1;
};

// A loopback port where connections never complete, as on a host that
// drops packets: a listener that never accepts, its backlog filled at once.
class DeadListener {
 public:
  DeadListener();
  ~DeadListener();
  DeadListener(const DeadListener&) = delete;
  DeadListener& operator=(const DeadListener&) = delete;
  int port() const { return port_; }
  std::string url(const std::string& prefix) const;

 private:
  int listener_ = -1, filler_ = -1, port_ = 0;
};

// Publishes one message with mosquitto_pub (the payload from a file, so it
// may be of any size); returns its exit status.
int publish(const Broker& broker, const std::string& topic, const std::string& payload_file,
            const std::string& dir);

}  // namespace testing_broker
