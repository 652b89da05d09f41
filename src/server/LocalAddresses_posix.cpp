#include "server/LocalAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace {

struct IfAddrsFree {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

LocalAddresses ReadLocalAddresses() {
  LocalAddresses local;
  std::vector<std::string> loopback;
  std::vector<std::string> v6;
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) == 0) {
    const std::unique_ptr<ifaddrs, IfAddrsFree> list(raw);
    for (const ifaddrs* entry = raw; entry; entry = entry->ifa_next) {
      if (!entry->ifa_addr || !(entry->ifa_flags & IFF_UP)) continue;
      char text[INET6_ADDRSTRLEN] = {};
      const int family = entry->ifa_addr->sa_family;
      if (family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(static_cast<const void*>(entry->ifa_addr));
        if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) continue;
      } else if (family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(static_cast<const void*>(entry->ifa_addr));
        // Link-local addresses need a zone in a URL, which browsers do not take.
        if (IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr)) continue;
        if (!inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text)) continue;
      } else {
        continue;
      }
      std::vector<std::string>& into =
          (entry->ifa_flags & IFF_LOOPBACK) ? loopback : family == AF_INET ? local.addresses : v6;
      if (std::find(into.begin(), into.end(), text) == into.end()) into.emplace_back(text);
    }
  }
  local.addresses.insert(local.addresses.end(), v6.begin(), v6.end());
  // Loopback is always this computer, also where the interface list cannot be read.
  for (const char* always : {"127.0.0.1", "::1"}) {
    if (std::find(loopback.begin(), loopback.end(), always) == loopback.end()) loopback.emplace_back(always);
  }
  std::sort(loopback.begin(), loopback.end(), [](const std::string& a, const std::string& b) {
    return (a.find(':') == std::string::npos) > (b.find(':') == std::string::npos);
  });
  local.addresses.insert(local.addresses.end(), loopback.begin(), loopback.end());

  local.names.emplace_back("localhost");
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') {
    const std::string name = Lower(host);
    local.names.push_back(name);
    if (name.find('.') == std::string::npos) local.names.push_back(name + ".local");
  }
  return local;
}
