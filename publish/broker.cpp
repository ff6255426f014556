#include "publish/broker.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace rt {

namespace {

constexpr size_t MAX_PREFIX = 200;
constexpr std::uintmax_t MAX_LOGIN_FILE = 4096;

bool fail(std::string* why, const std::string& text) {
  *why = text;
  return false;
}

bool prefix_ok(const std::string& prefix, std::string* why) {
  if (prefix.empty()) return fail(why, "no topic prefix: name one after the host, e.g. mqtt://HOST/gse");
  if (prefix.size() > MAX_PREFIX) return fail(why, "the topic prefix is longer than 200 bytes");
  if (prefix[0] == '$') return fail(why, "a topic prefix may not start with '$' (the broker's own topics)");
  if (prefix.front() == '/' || prefix.back() == '/' || prefix.find("//") != std::string::npos)
    return fail(why, "the topic prefix \"" + prefix + "\" has an empty level");
  for (unsigned char c : prefix) {
    if (c == '+' || c == '#') return fail(why, "the topic prefix \"" + prefix + "\" holds a wildcard ('+' or '#')");
    if (c < 0x20 || c == 0x7F) return fail(why, "the topic prefix holds a control character");
  }
  return true;
}

}  // namespace

std::string BrokerAddress::text() const {
  const bool v6 = host.find(':') != std::string::npos;
  return std::string(tls ? "mqtts://" : "mqtt://") + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) +
         "/" + prefix;
}

bool parse_broker_url(const std::string& url, BrokerAddress* out, std::string* why) {
  BrokerAddress a;
  std::string rest;
  if (url.rfind("mqtt://", 0) == 0) {
    rest = url.substr(7);
  } else if (url.rfind("mqtts://", 0) == 0) {
    a.tls = true;
    a.port = MQTTS_PORT;
    rest = url.substr(8);
  } else {
    return fail(why, "\"" + url + "\" is not mqtt://HOST[:PORT]/PREFIX or mqtts://HOST[:PORT]/PREFIX");
  }
  const size_t slash = rest.find('/');
  if (slash == std::string::npos) return fail(why, "no topic prefix in \"" + url + "\": mqtt://HOST[:PORT]/PREFIX");
  std::string authority = rest.substr(0, slash);
  a.prefix = rest.substr(slash + 1);
  if (authority.find('@') != std::string::npos)
    return fail(why, "no login in the address: use --mqtt-login FILE or " + std::string(ENV_USER) + " and " +
                         ENV_PASSWORD);
  std::string port_text;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return fail(why, "no ']' after the IPv6 address in \"" + url + "\"");
    a.host = authority.substr(1, close - 1);
    const std::string after = authority.substr(close + 1);
    if (!after.empty() && after[0] != ':') return fail(why, "unexpected \"" + after + "\" after the host");
    if (!after.empty()) port_text = after.substr(1);
    if (after == ":") return fail(why, "no port after ':' in \"" + url + "\"");
  } else {
    const size_t colon = authority.find(':');
    a.host = authority.substr(0, colon);
    if (colon != std::string::npos) {
      port_text = authority.substr(colon + 1);
      if (port_text.empty()) return fail(why, "no port after ':' in \"" + url + "\"");
    }
  }
  if (a.host.empty()) return fail(why, "no broker host in \"" + url + "\"");
  for (unsigned char c : a.host)
    if (c <= 0x20 || c == 0x7F) return fail(why, "the broker host holds a space or a control character");
  if (!port_text.empty()) {
    if (port_text.size() > 5 || port_text.find_first_not_of("0123456789") != std::string::npos)
      return fail(why, "the port \"" + port_text + "\" is not a number from 1 to 65535");
    a.port = std::atoi(port_text.c_str());
    if (a.port < 1 || a.port > 65535) return fail(why, "the port " + port_text + " is not from 1 to 65535");
  }
  if (!prefix_ok(a.prefix, why)) return false;
  *out = a;
  return true;
}

bool read_login_file(const std::string& path, BrokerLogin* out, std::string* why, std::string* warning) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (ec) return fail(why, "cannot read login file " + path + ": " + ec.message());
  if (st.type() != fs::file_type::regular) return fail(why, "login file " + path + " is not a regular file");
  const auto size = fs::file_size(path, ec);
  if (ec || size > MAX_LOGIN_FILE) return fail(why, "login file " + path + " is larger than 4 KiB");
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(why, "cannot read login file " + path);
  std::string user, password;
  std::getline(in, user);
  std::getline(in, password);
  for (std::string* s : {&user, &password})
    if (!s->empty() && s->back() == '\r') s->pop_back();
  if (user.empty()) return fail(why, "login file " + path + " has no user name on its first line");
  out->username = user;
  out->password = password;
  out->source = path;
  using p = fs::perms;
  const p others = p::group_read | p::others_read;
  warning->clear();
  if ((st.permissions() & others) != p::none)
    *warning = "login file " + path + " can be read by other users (chmod 600 " + path + ")";
  return true;
}

bool login_from_environment(BrokerLogin* out) {
  struct Taken {
    bool user_set = false;
    std::string user, password;
  };
  static const Taken taken = [] {
    Taken t;
    const char* user = std::getenv(ENV_USER);
    const char* password = std::getenv(ENV_PASSWORD);
    t.user_set = user && *user;
    if (t.user_set) t.user = user;
    if (password) t.password = password;
#ifdef _WIN32
    _putenv_s(ENV_PASSWORD, "");
#else
    ::unsetenv(ENV_PASSWORD);
#endif
    return t;
  }();
  if (!taken.user_set) return false;
  out->username = taken.user;
  out->password = taken.password;
  out->source = "the environment (" + std::string(ENV_USER) + ")";
  return true;
}

}  // namespace rt
