// One connection to an MQTT broker through libmosquitto (MQTT 5): connect
// with TLS and a login, publish, subscribe, and service the socket. Each
// client is used by one thread at a time (the publisher's or the viewer's
// own), never by the system's thread. Failures are told apart, because an
// operator must act on some and only wait out others.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "publish/broker.h"

struct mosquitto;
struct mosquitto_message;

namespace rt {

struct BrokerFailure {
  enum class Kind {
    None,
    Unreachable,  // no connection: refused, no route, no answer, a name that does not resolve
    Lost,         // the connection broke (the broker went away)
    Login,        // the broker refused the login (or the client)
    Certificate,  // TLS: the broker's certificate does not verify (or the CA file is unusable)
    Other,
  };
  Kind kind = Kind::None;
  std::string reason;
  // The run cannot get past these by waiting: the operator must act.
  bool needs_operator() const { return kind == Kind::Login || kind == Kind::Certificate; }
};

struct ConnectOptions {
  BrokerAddress address;
  BrokerLogin login;
  std::string client_id;
  int keepalive_s = 5;
  // The largest packet the broker may send us (0: no limit): a subscriber
  // is never made to hold a huge message in memory.
  uint32_t max_packet = 0;
  std::string will_topic, will_payload;  // the last will, retained ("" = none)
};

class MqttClient {
 public:
  using OnMessage = std::function<void(std::string_view topic, std::string_view payload)>;
  explicit MqttClient(OnMessage on_message = {});
  ~MqttClient();
  MqttClient(const MqttClient&) = delete;
  MqttClient& operator=(const MqttClient&) = delete;

  // Connects and waits for the broker's answer, at most CONNECT_WAIT_MS
  // once the socket is open (the socket's own connect may wait longer for
  // a host that does not answer). True when the broker accepted us; else
  // *failure says why and the client is disconnected.
  bool connect(const ConnectOptions& options, BrokerFailure* failure);
  static constexpr int CONNECT_WAIT_MS = 10000;
  bool connected() const { return connected_; }

  // QoS 0 or 1. False when the client is not connected or the message is
  // refused (too large for the broker).
  bool publish(const std::string& topic, std::string_view payload, int qos, bool retain);
  // Waits for the broker's acknowledgement (at most CONNECT_WAIT_MS), so
  // that what is published after this returns reaches us.
  bool subscribe(const std::string& topic, int qos);
  // Bytes wait to be written: the broker takes them more slowly than they
  // come.
  bool want_write();

  // Reads, writes and keeps the connection alive, waiting at most `wait_ms`
  // for the socket. False when the connection was lost (*failure says why).
  bool service(int wait_ms, BrokerFailure* failure);
  // Says goodbye to the broker (no last will), writing what is pending for
  // at most `flush_ms`.
  void disconnect(int flush_ms);

 private:
  static void on_connect(struct mosquitto*, void* self, int reason);
  static void on_message(struct mosquitto*, void* self, const ::mosquitto_message* message);
  static void on_log(struct mosquitto*, void* self, int level, const char* text);
  static void on_subscribe(struct mosquitto*, void* self, int mid, int count, const int* granted);
  BrokerFailure failure_of(int rc, const char* doing) const;

  struct mosquitto* mosq_ = nullptr;
  OnMessage on_message_;
  bool connected_ = false;
  bool answered_ = false;  // the broker answered our connect
  int answer_ = 0;         // its reason code
  int acknowledged_ = 0;   // the last subscription the broker acknowledged
  std::string last_error_; // the library's last error line (TLS reasons)
  std::string user_;
};

}  // namespace rt
