// Where a session is shared: the broker's address and topic prefix from
// mqtt://HOST[:PORT]/PREFIX (mqtts:// for TLS), and how to log in to it. The
// password never comes from the command line (where ps shows it): from a
// file (--mqtt-login FILE) or from the environment. Qt-free.
#pragma once

#include <string>

namespace rt {

constexpr int MQTT_PORT = 1883;
constexpr int MQTTS_PORT = 8883;

struct BrokerAddress {
  bool tls = false;
  std::string host;  // a name or an address; IPv6 without its brackets
  int port = MQTT_PORT;
  std::string prefix;  // the topics' prefix: "gse", "lab/vst/station1"
  // "mqtt://HOST:PORT/PREFIX", always with the port.
  std::string text() const;
};

// Parses `url`. False with *why on anything else: another scheme, no host,
// a port outside 1..65535, no prefix, or a prefix MQTT cannot publish under
// (wildcards '+' '#', an empty level, a leading '$', control characters,
// longer than 200 bytes).
bool parse_broker_url(const std::string& url, BrokerAddress* out, std::string* why);

struct BrokerLogin {
  std::string username;  // "" = no login
  std::string password;
  std::string ca_file;   // mqtts://: the CA that signs the broker's certificate; "" = the system's
  std::string source;    // where the login came from, for messages: "FILE", "the environment"
};

// The environment's login: VST_GSE_MQTT_USER and VST_GSE_MQTT_PASSWORD.
constexpr const char* ENV_USER = "VST_GSE_MQTT_USER";
constexpr const char* ENV_PASSWORD = "VST_GSE_MQTT_PASSWORD";

// Reads a login file: the user name on the first line, the password on the
// second (line ends \n or \r\n; nothing else is trimmed). False with *why
// when it cannot be read, is not a regular file, is larger than 4 KiB or has
// no user name. *warning is set when other users may read it.
bool read_login_file(const std::string& path, BrokerLogin* out, std::string* why, std::string* warning);

// The login from the environment, if VST_GSE_MQTT_USER is set. The first
// call takes VST_GSE_MQTT_PASSWORD out of the environment (so no program
// the station starts, a browser opened for the guide say, inherits it) and
// keeps it for later calls; the program start makes that call before any
// other thread or process exists.
bool login_from_environment(BrokerLogin* out);

}  // namespace rt
