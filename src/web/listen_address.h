#pragma once

#include <string>

namespace morlane::web {

// Where the dashboard listens: "ADDR:PORT", the address an IPv4 address, a host name or an
// IPv6 address in brackets ("[::1]:8470"). Port 0 takes any free port, which the server
// says once it listens.
struct ListenAddress {
  std::string host;  // as the system's resolver takes it: without the brackets
  int port = 0;
  // Only this machine can reach it: 127.0.0.0/8, ::1 or "localhost". Any other address,
  // a host name among them (it may stand for any interface), reaches beyond it.
  bool loopback = false;
};

inline constexpr const char* kDefaultListen = "127.0.0.1:8470";

// false, with what is wrong in *why, for a text that is no ADDR:PORT.
bool ParseListenAddress(const std::string& text, ListenAddress* address, std::string* why);

}  // namespace morlane::web
