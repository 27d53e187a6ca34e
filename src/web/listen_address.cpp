#include "web/listen_address.h"

#include <arpa/inet.h>

namespace morlane::web {

namespace {

bool IsLoopback(const std::string& host) {
  if (host == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return false;
}

}  // namespace

bool ParseListenAddress(const std::string& text, ListenAddress* address, std::string* why) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    *why = "\"" + text + "\" is not ADDR:PORT (127.0.0.1:8470, [::1]:8470)";
    return false;
  }
  std::string host = text.substr(0, colon);
  const std::string port = text.substr(colon + 1);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') {
      *why = "\"" + text + "\": an IPv6 address stands in brackets ([::1]:8470)";
      return false;
    }
    host = host.substr(1, host.size() - 2);
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) != 1) {
      *why = "\"" + host + "\" is not an IPv6 address";
      return false;
    }
  } else if (host.find(':') != std::string::npos) {
    *why = "\"" + text + "\": an IPv6 address stands in brackets ([::1]:8470)";
    return false;
  }
  int number = 0;
  bool digits = !port.empty() && port.size() <= 5;
  for (char c : port) {
    digits = digits && c >= '0' && c <= '9';
    if (digits) number = number * 10 + (c - '0');
  }
  if (!digits || number > 65535) {
    *why = "\"" + port + "\" is not a port (0 to 65535)";
    return false;
  }
  *address = ListenAddress{host, number, IsLoopback(host)};
  return true;
}

}  // namespace morlane::web
