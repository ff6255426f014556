#include "publish/mqtt_client.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace rt {

namespace {

using Clock = std::chrono::steady_clock;

// Attempts given up on whose helper thread still waits in the operating
// system's connect; beyond this many, a new attempt waits for them.
constexpr int MAX_PENDING_ATTEMPTS = 4;
std::atomic<int> pending_attempts{0};

void init_library() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

// CONNACK reason codes that say the login or the client was refused.
bool login_refused(int reason) {
  return reason == MQTT_RC_BAD_USERNAME_OR_PASSWORD || reason == MQTT_RC_NOT_AUTHORIZED ||
         reason == MQTT_RC_BANNED || reason == MQTT_RC_BAD_AUTHENTICATION_METHOD ||
         reason == MQTT_RC_CLIENTID_NOT_VALID;
}

}  // namespace

std::string host_port(const BrokerAddress& a) {
  const bool v6 = a.host.find(':') != std::string::npos;
  return (v6 ? "[" + a.host + "]" : a.host) + ":" + std::to_string(a.port);
}

// What the library's callbacks tell of one connection. Made new for every
// connection, so an attempt given up on keeps its own.
struct MqttClient::Sink {
  OnMessage on_message;
  bool answered = false;  // the broker answered our connect
  int answer = 0;         // its reason code
  uint32_t max_packet = 0;
  int acknowledged = 0;    // the last subscription the broker acknowledged
  int awaited = 0;         // the last message published with QoS 1...
  bool awaited_acknowledged = true;  // ...and whether the broker acknowledged it
  std::string last_error;  // the library's last error line (TLS reasons)

  static Sink* of(void* p) { return static_cast<Sink*>(p); }
  static void on_connect(struct mosquitto*, void* self, int reason, int, const mosquitto_property* props) {
    Sink* s = of(self);
    s->answered = true;
    s->answer = reason;
    uint32_t max = 0;
    if (props && mosquitto_property_read_int32(props, MQTT_PROP_MAXIMUM_PACKET_SIZE, &max, false)) s->max_packet = max;
  }
  static void message(struct mosquitto*, void* self, const mosquitto_message* m) {
    Sink* s = of(self);
    if (!s->on_message || !m || !m->topic) return;
    const auto* bytes = static_cast<const char*>(m->payload);
    s->on_message(m->topic, std::string_view(bytes ? bytes : "", bytes ? static_cast<size_t>(m->payloadlen) : 0));
  }
  static void on_log(struct mosquitto*, void* self, int level, const char* text) {
    if (level == MOSQ_LOG_ERR && text) of(self)->last_error = text;
  }
  static void on_subscribe(struct mosquitto*, void* self, int mid, int, const int*) { of(self)->acknowledged = mid; }
  // Every message sent, and a QoS 1 one once acknowledged.
  static void on_publish(struct mosquitto*, void* self, int mid) {
    if (mid == of(self)->awaited) of(self)->awaited_acknowledged = true;
  }
};

namespace {

// The library's blocking connect, on a thread of its own: the caller waits
// for it with a bound and may give up, and the attempt then ends (and frees
// its client) by itself whenever the operating system lets it.
struct Attempt {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  bool abandoned = false;
  int rc = MOSQ_ERR_SUCCESS;
  int err = 0;
};

}  // namespace

MqttClient::MqttClient(OnMessage on_message) : on_message_(std::move(on_message)) { init_library(); }

MqttClient::~MqttClient() { drop(); }

void MqttClient::drop() {
  if (mosq_) mosquitto_destroy(mosq_);
  mosq_ = nullptr;
  connected_ = false;
  held_ = false;
}

uint32_t MqttClient::broker_max_packet() const { return sink_ ? sink_->max_packet : 0; }

BrokerFailure MqttClient::failure_of(int rc, int err) const {
  BrokerFailure f;
  const std::string last_error = sink_ ? sink_->last_error : std::string();
  switch (rc) {
    case MOSQ_ERR_TLS:
      f.kind = BrokerFailure::Kind::Certificate;
      f.reason = "TLS failed" + (last_error.empty() ? std::string() : ": " + last_error);
      if (last_error.find("certificate verify failed") != std::string::npos)
        f.reason = "the broker's certificate does not verify (" + last_error + ")";
      return f;
    case MOSQ_ERR_EAI:
      f.kind = BrokerFailure::Kind::Unreachable;
      f.reason = "the host name does not resolve";
      return f;
    case MOSQ_ERR_ERRNO:
      f.kind = connected_ ? BrokerFailure::Kind::Lost : BrokerFailure::Kind::Unreachable;
      f.reason = std::strerror(err);
      if (!connected_) f.reason = "cannot connect to " + where_ + ": " + f.reason;
      break;
    case MOSQ_ERR_KEEPALIVE:
      f.kind = BrokerFailure::Kind::Lost;
      f.reason = "the broker at " + where_ + " stopped answering (no reply within the keep-alive: paused, overloaded or cut off)";
      return f;
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
      f.kind = connected_ ? BrokerFailure::Kind::Lost : BrokerFailure::Kind::Unreachable;
      f.reason = connected_ ? "the connection was lost" : "the broker closed the connection";
      break;
    default:
      f.kind = BrokerFailure::Kind::Other;
      f.reason = mosquitto_strerror(rc);
      break;
  }
  // A TLS failure during the handshake can surface as a lost connection.
  if (!connected_ && last_error.find("certificate verify failed") != std::string::npos) {
    f.kind = BrokerFailure::Kind::Certificate;
    f.reason = "the broker's certificate does not verify (" + last_error + ")";
  }
  return f;
}

bool MqttClient::connect(const ConnectOptions& o, BrokerFailure* failure, const Stop& stop) {
  drop();
  const auto deadline = Clock::now() + std::chrono::milliseconds(CONNECT_TIMEOUT_MS);
  user_ = o.login.username;
  where_ = host_port(o.address);
  const std::string not_answering = "broker not answering at " + where_;
  sink_ = std::make_shared<Sink>();
  sink_->on_message = on_message_;
  mosq_ = mosquitto_new(o.client_id.c_str(), true, sink_.get());
  if (!mosq_) {
    *failure = {BrokerFailure::Kind::Other, "cannot make an MQTT client: " + std::string(std::strerror(errno))};
    return false;
  }
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_connect_v5_callback_set(mosq_, Sink::on_connect);
  mosquitto_message_callback_set(mosq_, Sink::message);
  // The library's log is read for its TLS failures only: without a
  // callback it does not format a line for every message published.
  if (o.address.tls) mosquitto_log_callback_set(mosq_, Sink::on_log);
  mosquitto_subscribe_callback_set(mosq_, Sink::on_subscribe);
  mosquitto_publish_callback_set(mosq_, Sink::on_publish);
  int rc = MOSQ_ERR_SUCCESS;
  if (o.address.tls) {
    if (o.login.ca_file.empty()) {
      rc = mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    } else {
      rc = mosquitto_tls_set(mosq_, o.login.ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
      if (rc != MOSQ_ERR_SUCCESS) {
        *failure = {BrokerFailure::Kind::Certificate,
                    "cannot use the CA file " + o.login.ca_file + ": " + mosquitto_strerror(rc)};
        drop();
        return false;
      }
    }
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_opts_set(mosq_, 1, nullptr, nullptr);  // verify the peer
  }
  if (rc == MOSQ_ERR_SUCCESS && !o.login.username.empty())
    rc = mosquitto_username_pw_set(mosq_, o.login.username.c_str(),
                                   o.login.password.empty() ? nullptr : o.login.password.c_str());
  if (rc == MOSQ_ERR_SUCCESS && !o.will_topic.empty())
    rc = mosquitto_will_set(mosq_, o.will_topic.c_str(), static_cast<int>(o.will_payload.size()),
                            o.will_payload.data(), 1, true);
  if (rc != MOSQ_ERR_SUCCESS) {
    *failure = {BrokerFailure::Kind::Other, mosquitto_strerror(rc)};
    drop();
    return false;
  }
  if (pending_attempts.load() >= MAX_PENDING_ATTEMPTS) {
    *failure = {BrokerFailure::Kind::Unreachable, not_answering + " (earlier attempts are still waiting for it)"};
    drop();
    return false;
  }

  // The socket's connect (and TLS handshake) on the helper thread.
  auto attempt = std::make_shared<Attempt>();
  ++pending_attempts;
  std::thread([attempt, mosq = mosq_, sink = sink_, host = o.address.host, port = o.address.port,
               keepalive = o.keepalive_s, max_packet = o.max_packet] {
    mosquitto_property* props = nullptr;
    if (max_packet > 0) mosquitto_property_add_int32(&props, MQTT_PROP_MAXIMUM_PACKET_SIZE, max_packet);
    errno = 0;
    const int result = mosquitto_connect_bind_v5(mosq, host.c_str(), port, keepalive, nullptr, props);
    const int err = errno;
    mosquitto_property_free_all(&props);
    bool abandoned = false;
    {
      std::lock_guard lock(attempt->mu);
      attempt->done = true;
      attempt->rc = result;
      attempt->err = err;
      abandoned = attempt->abandoned;
    }
    attempt->cv.notify_all();
    if (abandoned) mosquitto_destroy(mosq);  // the caller left it: ours to free (the sink is held here)
    --pending_attempts;
  }).detach();
  {
    std::unique_lock lock(attempt->mu);
    while (!attempt->done) {
      const bool stopped = stop && stop();
      if (stopped || Clock::now() >= deadline) {
        attempt->abandoned = true;
        mosq_ = nullptr;  // the helper frees it
        *failure = stopped ? BrokerFailure{BrokerFailure::Kind::Stopped, "stopped"}
                           : BrokerFailure{BrokerFailure::Kind::Unreachable,
                                           not_answering + " (no connection within " +
                                               std::to_string(CONNECT_TIMEOUT_MS / 1000) + " s)"};
        return false;
      }
      attempt->cv.wait_for(lock, std::chrono::milliseconds(STOP_POLL_MS));
    }
    rc = attempt->rc;
  }
  const int err = attempt->err;
  // The broker's answer (CONNACK), within the same bound.
  while (rc == MOSQ_ERR_SUCCESS && !sink_->answered) {
    if (stop && stop()) {
      *failure = {BrokerFailure::Kind::Stopped, "stopped"};
      drop();
      return false;
    }
    errno = 0;
    rc = mosquitto_loop(mosq_, STOP_POLL_MS * 2, 1);
    // (The library gives up with a keep-alive error of its own when the
    // answer takes as long as the keep-alive.)
    if (!sink_->answered && (Clock::now() >= deadline || rc == MOSQ_ERR_KEEPALIVE)) {
      *failure = {BrokerFailure::Kind::Unreachable,
                  not_answering + " (connected, but no answer to the MQTT connect within " +
                      std::to_string(CONNECT_TIMEOUT_MS / 1000) + " s: paused, overloaded, or not an MQTT broker)"};
      drop();
      return false;
    }
  }
  if (!sink_->answered && rc != MOSQ_ERR_SUCCESS) {
    *failure = failure_of(rc, errno != 0 ? errno : err);
    drop();
    return false;
  }
  if (sink_->answer != 0) {
    failure->kind = login_refused(sink_->answer) ? BrokerFailure::Kind::Login : BrokerFailure::Kind::Other;
    failure->reason = std::string(mosquitto_reason_string(sink_->answer));
    if (failure->kind == BrokerFailure::Kind::Login)
      failure->reason = "the broker refused the login" +
                        (user_.empty() ? std::string(" (no user name given)") : " as \"" + user_ + "\"") + ": " +
                        failure->reason;
    else
      failure->reason = "the broker refused the connection: " + failure->reason;
    drop();
    return false;
  }
  connected_ = true;
  return true;
}

void MqttClient::hold(bool on) {
#ifdef TCP_CORK
  if (held_ == on || !mosq_) return;
  const int fd = mosquitto_socket(mosq_);
  const int value = on ? 1 : 0;
  if (fd >= 0 && setsockopt(fd, IPPROTO_TCP, TCP_CORK, &value, sizeof value) == 0) held_ = on;
#else
  (void)on;
#endif
}

MqttClient::Sent MqttClient::publish(const std::string& topic, std::string_view payload, int qos, bool retain) {
  if (!mosq_ || !connected_) return Sent::NotConnected;
  hold(true);
  int mid = 0;
  const int rc = mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                                   qos, retain);
  if (rc == MOSQ_ERR_SUCCESS && qos > 0) {
    sink_->awaited = mid;
    sink_->awaited_acknowledged = false;
  }
  if (rc == MOSQ_ERR_OVERSIZE_PACKET) return Sent::TooLarge;
  if (rc != MOSQ_ERR_SUCCESS) return Sent::Failed;
  return Sent::Ok;
}

bool MqttClient::subscribe(const std::string& topic, int qos, const Stop& stop) {
  if (!mosq_ || !connected_) return false;
  int mid = 0;
  if (mosquitto_subscribe(mosq_, &mid, topic.c_str(), qos) != MOSQ_ERR_SUCCESS) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(CONNECT_TIMEOUT_MS);
  while (sink_->acknowledged != mid) {
    if (Clock::now() > deadline || (stop && stop()) || mosquitto_loop(mosq_, STOP_POLL_MS, 1) != MOSQ_ERR_SUCCESS)
      return false;
  }
  return true;
}

bool MqttClient::want_write() { return mosq_ && mosquitto_want_write(mosq_); }

bool MqttClient::service(int wait_ms, BrokerFailure* failure) {
  if (!mosq_ || !connected_) {
    *failure = {BrokerFailure::Kind::Lost, "not connected"};
    return false;
  }
  hold(false);
  errno = 0;
  const int rc = mosquitto_loop(mosq_, wait_ms, 1);
  if (rc == MOSQ_ERR_SUCCESS) return true;
  *failure = failure_of(rc, errno);
  drop();
  return false;
}

bool MqttClient::disconnect(int flush_ms) {
  if (!mosq_) return true;
  hold(false);
  bool confirmed = true;
  if (connected_) {
    // What waits goes out, and the broker acknowledges the last message
    // that asked for it: it has then read everything before. The library
    // closes the socket as soon as the goodbye is written, and a close with
    // an acknowledgement still unread resets the connection, losing what a
    // busy broker had not read yet (and sending the last will).
    const auto deadline = Clock::now() + std::chrono::milliseconds(flush_ms);
    while ((mosquitto_want_write(mosq_) || !sink_->awaited_acknowledged) && Clock::now() < deadline)
      if (mosquitto_loop(mosq_, 10, 1) != MOSQ_ERR_SUCCESS) break;
    confirmed = !mosquitto_want_write(mosq_) && sink_->awaited_acknowledged;
    mosquitto_disconnect(mosq_);
    // The goodbye itself.
    for (int i = 0; i < 10 && mosquitto_want_write(mosq_); ++i) mosquitto_loop(mosq_, 10, 1);
  }
  drop();
  return confirmed;
}

}  // namespace rt
