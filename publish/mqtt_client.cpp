#include "publish/mqtt_client.h"

#include <chrono>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <mosquitto.h>
#include <mqtt_protocol.h>

namespace rt {

namespace {

using Clock = std::chrono::steady_clock;

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

MqttClient::MqttClient(OnMessage on_message) : on_message_(std::move(on_message)) { init_library(); }

MqttClient::~MqttClient() {
  if (mosq_) mosquitto_destroy(mosq_);
}

void MqttClient::on_connect(struct mosquitto*, void* self, int reason) {
  auto* c = static_cast<MqttClient*>(self);
  c->answered_ = true;
  c->answer_ = reason;
}

void MqttClient::on_message(struct mosquitto*, void* self, const ::mosquitto_message* m) {
  auto* c = static_cast<MqttClient*>(self);
  if (!c->on_message_ || !m || !m->topic) return;
  const auto* bytes = static_cast<const char*>(m->payload);
  c->on_message_(m->topic, std::string_view(bytes ? bytes : "", bytes ? static_cast<size_t>(m->payloadlen) : 0));
}

void MqttClient::on_log(struct mosquitto*, void* self, int level, const char* text) {
  if (level == MOSQ_LOG_ERR && text) static_cast<MqttClient*>(self)->last_error_ = text;
}

void MqttClient::on_subscribe(struct mosquitto*, void* self, int mid, int, const int*) {
  static_cast<MqttClient*>(self)->acknowledged_ = mid;
}

BrokerFailure MqttClient::failure_of(int rc, const char* doing) const {
  BrokerFailure f;
  const int err = errno;
  switch (rc) {
    case MOSQ_ERR_TLS:
      f.kind = BrokerFailure::Kind::Certificate;
      f.reason = "TLS failed" + (last_error_.empty() ? std::string() : ": " + last_error_);
      if (last_error_.find("certificate verify failed") != std::string::npos)
        f.reason = "the broker's certificate does not verify (" + last_error_ + ")";
      return f;
    case MOSQ_ERR_EAI:
      f.kind = BrokerFailure::Kind::Unreachable;
      f.reason = "the host name does not resolve";
      return f;
    case MOSQ_ERR_ERRNO:
      f.kind = connected_ ? BrokerFailure::Kind::Lost : BrokerFailure::Kind::Unreachable;
      f.reason = std::strerror(err);
      break;
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
  if (!connected_ && last_error_.find("certificate verify failed") != std::string::npos) {
    f.kind = BrokerFailure::Kind::Certificate;
    f.reason = "the broker's certificate does not verify (" + last_error_ + ")";
  }
  (void)doing;
  return f;
}

bool MqttClient::connect(const ConnectOptions& o, BrokerFailure* failure) {
  if (mosq_) mosquitto_destroy(mosq_);
  connected_ = answered_ = false;
  answer_ = 0;
  last_error_.clear();
  user_ = o.login.username;
  mosq_ = mosquitto_new(o.client_id.c_str(), true, this);
  if (!mosq_) {
    *failure = {BrokerFailure::Kind::Other, "cannot make an MQTT client: " + std::string(std::strerror(errno))};
    return false;
  }
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_connect_callback_set(mosq_, on_connect);
  mosquitto_message_callback_set(mosq_, on_message);
  mosquitto_log_callback_set(mosq_, on_log);
  mosquitto_subscribe_callback_set(mosq_, on_subscribe);
  int rc = MOSQ_ERR_SUCCESS;
  if (o.address.tls) {
    if (o.login.ca_file.empty()) {
      rc = mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    } else {
      rc = mosquitto_tls_set(mosq_, o.login.ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
      if (rc != MOSQ_ERR_SUCCESS) {
        *failure = {BrokerFailure::Kind::Certificate,
                    "cannot use the CA file " + o.login.ca_file + ": " + mosquitto_strerror(rc)};
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
    return false;
  }
  mosquitto_property* props = nullptr;
  if (o.max_packet > 0) mosquitto_property_add_int32(&props, MQTT_PROP_MAXIMUM_PACKET_SIZE, o.max_packet);
  errno = 0;
  rc = mosquitto_connect_bind_v5(mosq_, o.address.host.c_str(), o.address.port, o.keepalive_s, nullptr, props);
  mosquitto_property_free_all(&props);
  const auto deadline = Clock::now() + std::chrono::milliseconds(CONNECT_WAIT_MS);
  while (rc == MOSQ_ERR_SUCCESS && !answered_) {
    if (Clock::now() > deadline) {
      *failure = {BrokerFailure::Kind::Unreachable, "no answer from the broker within 10 s"};
      mosquitto_destroy(mosq_);
      mosq_ = nullptr;
      return false;
    }
    errno = 0;
    rc = mosquitto_loop(mosq_, 100, 1);
  }
  if (!answered_ && rc != MOSQ_ERR_SUCCESS) {
    *failure = failure_of(rc, "connect");
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    return false;
  }
  if (answer_ != 0) {
    failure->kind = login_refused(answer_) ? BrokerFailure::Kind::Login : BrokerFailure::Kind::Other;
    failure->reason = std::string(mosquitto_reason_string(answer_));
    if (failure->kind == BrokerFailure::Kind::Login)
      failure->reason = "the broker refused the login" +
                        (user_.empty() ? std::string(" (no user name given)") : " as \"" + user_ + "\"") + ": " +
                        failure->reason;
    else
      failure->reason = "the broker refused the connection: " + failure->reason;
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    return false;
  }
  connected_ = true;
  return true;
}

bool MqttClient::publish(const std::string& topic, std::string_view payload, int qos, bool retain) {
  if (!mosq_ || !connected_) return false;
  return mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos,
                           retain) == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const std::string& topic, int qos) {
  if (!mosq_ || !connected_) return false;
  int mid = 0;
  if (mosquitto_subscribe(mosq_, &mid, topic.c_str(), qos) != MOSQ_ERR_SUCCESS) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(CONNECT_WAIT_MS);
  while (acknowledged_ != mid) {
    if (Clock::now() > deadline || mosquitto_loop(mosq_, 50, 1) != MOSQ_ERR_SUCCESS) return false;
  }
  return true;
}

bool MqttClient::want_write() { return mosq_ && mosquitto_want_write(mosq_); }

bool MqttClient::service(int wait_ms, BrokerFailure* failure) {
  if (!mosq_ || !connected_) {
    *failure = {BrokerFailure::Kind::Lost, "not connected"};
    return false;
  }
  errno = 0;
  const int rc = mosquitto_loop(mosq_, wait_ms, 1);
  if (rc == MOSQ_ERR_SUCCESS) return true;
  *failure = failure_of(rc, "service");
  connected_ = false;
  mosquitto_destroy(mosq_);
  mosq_ = nullptr;
  return false;
}

void MqttClient::disconnect(int flush_ms) {
  if (!mosq_) return;
  if (connected_) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(flush_ms);
    while (mosquitto_want_write(mosq_) && Clock::now() < deadline)
      if (mosquitto_loop(mosq_, 10, 1) != MOSQ_ERR_SUCCESS) break;
    mosquitto_disconnect(mosq_);
    // The goodbye itself.
    for (int i = 0; i < 10 && mosquitto_want_write(mosq_); ++i) mosquitto_loop(mosq_, 10, 1);
  }
  connected_ = false;
  mosquitto_destroy(mosq_);
  mosq_ = nullptr;
}

}  // namespace rt
