// One connection to an MQTT broker through libmosquitto (MQTT 5): connect
// with TLS and a login, publish, subscribe, and service the socket. Each
// client is used by one thread at a time (the publisher's or the viewer's
// own), never by the system's thread. Failures are told apart, because an
// operator must act on some and only wait out others.
//
// Nothing here waits without a bound or past a stop: the connection is made
// on a helper thread of its own (the library's connect blocks in the
// operating system for minutes on a host that drops packets) and waited for
// at most CONNECT_TIMEOUT_MS, looking at `stop` every STOP_POLL_MS; an
// attempt given up on ends by itself on its helper thread and touches
// nothing of the client's.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "publish/broker.h"

struct mosquitto;

namespace rt {

struct BrokerFailure {
  enum class Kind {
    None,
    Unreachable,  // no connection: refused, no route, no answer, a name that does not resolve
    Lost,         // the connection broke (the broker went away or stopped answering)
    Login,        // the broker refused the login (or the client)
    Certificate,  // TLS: the broker's certificate does not verify (or the CA file is unusable)
    TooSmall,     // the broker's maximum packet size refuses the station's messages
    Stopped,      // the caller stopped the attempt
    Other,
  };
  Kind kind = Kind::None;
  std::string reason;
  // The run cannot get past these by waiting: the operator must act.
  bool needs_operator() const { return kind == Kind::Login || kind == Kind::Certificate || kind == Kind::TooSmall; }
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

// "HOST:PORT" ("[::1]:1883" for IPv6), as messages name a broker.
std::string host_port(const BrokerAddress& address);

class MqttClient {
 public:
  using OnMessage = std::function<void(std::string_view topic, std::string_view payload)>;
  using Stop = std::function<bool()>;
  // The connection and the broker's answer together: a host that drops
  // packets, a broker that is paused or a port that is no broker's is said
  // ("broker not answering at HOST:PORT") after this.
  static constexpr int CONNECT_TIMEOUT_MS = 5000;
  static constexpr int STOP_POLL_MS = 20;

  explicit MqttClient(OnMessage on_message = {});
  ~MqttClient();
  MqttClient(const MqttClient&) = delete;
  MqttClient& operator=(const MqttClient&) = delete;

  // Connects and waits for the broker's answer, at most CONNECT_TIMEOUT_MS
  // in all, and no longer than `stop` (when given) returns false. True when
  // the broker accepted us; else *failure says why (Kind::Stopped when
  // `stop` ended it) and the client is disconnected.
  bool connect(const ConnectOptions& options, BrokerFailure* failure, const Stop& stop = {});
  bool connected() const { return connected_; }
  // The broker's maximum packet size from its answer (0: none given).
  uint32_t broker_max_packet() const;

  enum class Sent { Ok, NotConnected, TooLarge, Failed };
  // QoS 0 or 1. TooLarge: beyond the broker's maximum packet size.
  // What is published until the next service() or disconnect() goes out
  // together (the socket is corked meanwhile): a batch of frames costs the
  // network a few segments, not three a frame.
  Sent publish(const std::string& topic, std::string_view payload, int qos, bool retain);
  // Waits for the broker's acknowledgement (at most CONNECT_TIMEOUT_MS, and
  // no longer than `stop` allows), so that what is published after this
  // returns reaches us.
  bool subscribe(const std::string& topic, int qos, const Stop& stop = {});
  // Bytes wait to be written: the broker takes them more slowly than they
  // come.
  bool want_write();

  // Reads, writes and keeps the connection alive, waiting at most `wait_ms`
  // for the socket. False when the connection was lost (*failure says why).
  bool service(int wait_ms, BrokerFailure* failure);
  // Says goodbye to the broker (no last will) once what is pending is
  // written and the last QoS 1 message acknowledged, waiting at most
  // `flush_ms` for both. False when the wait ran out first: what the broker
  // had not read by then may be lost.
  bool disconnect(int flush_ms);

 private:
  struct Sink;
  BrokerFailure failure_of(int rc, int err) const;
  void drop();
  // Corks the socket (on) or sends what it holds (off).
  void hold(bool on);

  struct mosquitto* mosq_ = nullptr;
  std::shared_ptr<Sink> sink_;  // what the library's callbacks tell of this connection
  OnMessage on_message_;
  bool connected_ = false;
  bool held_ = false;  // the socket is corked
  std::string user_;
  std::string where_;  // HOST:PORT
};

}  // namespace rt
