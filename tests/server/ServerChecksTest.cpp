// The remote server's checks, each against the cases that decide it: the token, the
// Host and Origin rules (cross-site requests, DNS rebinding), the OSC host list, the key
// rate, and the stored settings beside the design's.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <set>

#include "ProfileHome.h"
#include "server/AccessToken.h"
#include "server/KeyRateLimit.h"
#include "server/OscListener.h"
#include "server/RemoteRequest.h"
#include "server/RemoteSettings.h"
#include "settings/ProfileStore.h"

namespace {

TEST(AccessToken, HoldsOneHundredTwentyEightFreshBits) {
  std::set<std::string> seen;
  unsigned ones[kAccessTokenDigits * 4] = {};
  constexpr int kTokens = 400;
  for (int i = 0; i < kTokens; ++i) {
    const std::string token = NewAccessToken();
    ASSERT_TRUE(IsWellFormedToken(token)) << token;
    seen.insert(token);
    for (std::size_t d = 0; d < token.size(); ++d) {
      const unsigned value = static_cast<unsigned>(std::stoi(token.substr(d, 1), nullptr, 16));
      for (unsigned bit = 0; bit < 4; ++bit) ones[d * 4 + bit] += (value >> bit) & 1;
    }
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kTokens));
  // Every one of the 128 bits varies: none is stuck at 0 or 1 over 400 tokens.
  for (unsigned count : ones) {
    EXPECT_GT(count, 100u);
    EXPECT_LT(count, 300u);
  }
}

TEST(AccessToken, MatchesOnlyTheWholeToken) {
  const std::string token = "0123456789abcdef0123456789abcdef";
  struct Case {
    std::string offered;
    bool matches;
  };
  const Case cases[] = {
      {token, true},
      {"1123456789abcdef0123456789abcdef", false},   // first digit
      {"0123456789abcdef0123456789abcdee", false},   // last digit
      {"0123456789abcdef0123456789abcde", false},    // one short
      {token + "0", false},                          // one more
      {"", false},
      {"0123456789ABCDEF0123456789ABCDEF", false},   // upper case is another token
  };
  for (const Case& c : cases) EXPECT_EQ(TokenMatches(token, c.offered), c.matches) << c.offered;
  EXPECT_FALSE(TokenMatches("", ""));
  for (const char* bad : {"", "0123", "0123456789abcdef0123456789abcdeg", "0123456789ABCDEF0123456789abcdef"}) {
    EXPECT_FALSE(IsWellFormedToken(bad)) << bad;
  }
}

TEST(RequestChecks, HostMustNameThisComputerAtThePagePort) {
  LocalAddresses local;
  local.addresses = {"192.168.1.20", "2001:db8::20", "127.0.0.1", "::1"};
  local.names = {"localhost", "studio", "studio.local"};
  struct Case {
    const char* host;
    bool allowed;
  };
  const Case cases[] = {
      {"192.168.1.20:8391", true},
      {"127.0.0.1:8391", true},
      {"[::1]:8391", true},
      {"[2001:db8:0::20]:8391", true},  // another spelling of the same address
      {"localhost:8391", true},
      {"STUDIO.local:8391", true},
      {"studio.local.:8391", true},
      {"evil.example:8391", false},  // a foreign name that resolves here
      {"192.168.1.20.evil.example:8391", false},
      {"192.168.1.21:8391", false},
      {"192.168.1.20:8392", false},
      {"192.168.1.20", false},  // port 80
      {"192.168.1.20:", false},
      {"192.168.1.20:8391:8391", false},
      {"[::1]8391", false},
      {"[::1", false},
      {"::1", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(HostIsThisComputer(c.host, 8391, local), c.allowed) << c.host;
}

TEST(RequestChecks, KeysComeOnlyFromThePagesOwnOrigin) {
  struct Case {
    const char* origin;
    const char* site;
    bool allowed;
  };
  const Case cases[] = {
      {"http://192.168.1.20:8391", "same-origin", true},
      {"HTTP://192.168.1.20:8391", "", true},
      {"", "", true},      // not a browser: the token decides
      {"", "none", true},  // typed into the address bar
      {"", "same-origin", true},
      {"", "cross-site", false},
      {"", "same-site", false},
      {"http://evil.example", "cross-site", false},
      {"http://evil.example", "", false},
      {"null", "", false},
      {"https://192.168.1.20:8391", "", false},
      {"http://192.168.1.20:8392", "", false},
      {"http://192.168.1.20", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RequestIsSameOrigin(c.origin, c.site, "192.168.1.20:8391"), c.allowed)
        << c.origin << " / " << c.site;
  }
}

TEST(OscHosts, AllowOnlyTheListedAddressesAndRanges) {
  struct Case {
    const char* list;
    const char* sender;
    bool allowed;
  };
  const Case cases[] = {
      {"127.0.0.1", "127.0.0.1", true},
      {"127.0.0.1", "192.168.1.5", false},
      {"127.0.0.1", "::ffff:127.0.0.1", true},  // IPv4 seen through an IPv6 socket
      {"localhost", "::1", true},
      {"localhost", "127.0.0.1", true},
      {"192.168.1.0/24, 10.0.0.7", "192.168.1.77", true},
      {"192.168.1.0/24, 10.0.0.7", "192.168.2.77", false},
      {"192.168.1.0/24 10.0.0.7", "10.0.0.7", true},
      {"192.168.1.0/24 10.0.0.7", "10.0.0.8", false},
      {"10.0.0.0/13", "10.7.255.255", true},
      {"10.0.0.0/13", "10.8.0.0", false},
      {"2001:db8::/32", "2001:db8:1::5", true},
      {"2001:db8::/32", "2001:db9::5", false},
      {"", "127.0.0.1", false},
      {"127.0.0.1", "not-an-address", false},
  };
  for (const Case& c : cases) {
    OscAllowedHosts hosts;
    std::string bad;
    ASSERT_TRUE(hosts.Parse(c.list, bad)) << c.list;
    EXPECT_EQ(hosts.Allows(c.sender), c.allowed) << c.list << " / " << c.sender;
  }
  for (const char* list : {"studio.local", "192.168.1.0/33", "::1/129", "10.0.0.1/", "10.0.0.1/x"}) {
    OscAllowedHosts hosts;
    std::string bad;
    EXPECT_FALSE(hosts.Parse(list, bad)) << list;
    EXPECT_FALSE(bad.empty());
    EXPECT_FALSE(hosts.Allows("127.0.0.1")) << "a list that failed allows nothing";
  }
}

TEST(KeyRate, ABurstThenTheSteadyRate) {
  KeyRateLimit rate(20, 20);
  const auto start = KeyRateLimit::Clock::now();
  int taken = 0;
  for (int i = 0; i < 100; ++i) taken += rate.Take(start) ? 1 : 0;
  EXPECT_EQ(taken, 20);
  taken = 0;
  for (int i = 0; i < 100; ++i) taken += rate.Take(start + std::chrono::milliseconds(500)) ? 1 : 0;
  EXPECT_EQ(taken, 10);
  // A long pause refills no more than the burst.
  taken = 0;
  for (int i = 0; i < 100; ++i) taken += rate.Take(start + std::chrono::seconds(60)) ? 1 : 0;
  EXPECT_EQ(taken, 20);
}

TEST(RemoteSettingsStore, OffByDefaultAndBesideTheDesignsValues) {
  QTemporaryDir home;
  ScopedProfileHome scoped(home.path().toStdString());
  ProfileStore& store = CurrentProfileStore();
  ASSERT_TRUE(store.StoreProfileInt(kSettingsSection, "TargetDeviceID", 5));

  RemoteSettings settings = ReadRemoteSettings(store);
  EXPECT_FALSE(settings.pageEnabled);
  EXPECT_FALSE(settings.oscEnabled);
  EXPECT_EQ(settings.oscAllowedHosts, "127.0.0.1");
  EXPECT_TRUE(settings.token.empty());

  ASSERT_TRUE(EnsureAccessToken(store, settings));
  const std::string first = settings.token;
  RemoteSettings again = ReadRemoteSettings(store);
  ASSERT_TRUE(EnsureAccessToken(store, again));
  EXPECT_EQ(again.token, first) << "the address stays the same from run to run";
  ASSERT_TRUE(RenewAccessToken(store, again));
  EXPECT_NE(again.token, first);
  EXPECT_EQ(ReadRemoteSettings(store).token, again.token);

  // Unusable stored values read as the defaults.
  ASSERT_TRUE(store.StoreProfileInt(kRemoteSection, "Page Port", 70000));
  ASSERT_TRUE(store.StoreProfileInt(kRemoteSection, "OSC Port", 0));
  ASSERT_TRUE(store.StoreProfileString(kRemoteSection, "Token", "short"));
  settings = ReadRemoteSettings(store);
  EXPECT_EQ(settings.pagePort, 8391);
  EXPECT_EQ(settings.oscPort, 9391);
  EXPECT_TRUE(settings.token.empty());
  EXPECT_EQ(store.ReadProfileInt(kSettingsSection, "TargetDeviceID", -1), 5);

  std::uint16_t port = 0;
  EXPECT_TRUE(ParsePort("8391", port));
  EXPECT_EQ(port, 8391);
  for (const char* bad : {"", "0", "65536", "-1", "80a", " 80"}) EXPECT_FALSE(ParsePort(bad, port)) << bad;
}

}  // namespace
