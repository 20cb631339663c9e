#include "docsec/platform/host.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace docsec {
namespace {

TEST(ParseIpv4, ReadsTheClassicForms) {
  struct Case {
    const char* text;
    uint32_t expected;
  } cases[] = {
      {"127.0.0.1", MakeIpv4(127, 0, 0, 1)}, {"192.168.10.200", MakeIpv4(192, 168, 10, 200)},
      {"0.0.0.0", MakeIpv4(0, 0, 0, 0)},     {"10.1", MakeIpv4(10, 0, 0, 1)},
      {"1.2.3", MakeIpv4(1, 2, 0, 3)},       {"1.16777215", MakeIpv4(1, 255, 255, 255)},
      {"0x7f.1", MakeIpv4(127, 0, 0, 1)},    {"0X7F.0.0.0x1", MakeIpv4(127, 0, 0, 1)},
      {"010.0.0.1", MakeIpv4(8, 0, 0, 1)},   {"2130706433", MakeIpv4(127, 0, 0, 1)},
      {"255.255.255.255", kInvalidIpv4},  // indistinguishable from the failure value, as classic
  };
  for (const Case& c : cases) EXPECT_EQ(ParseIpv4(c.text), c.expected) << c.text;
}

TEST(ParseIpv4, RefusesEverythingElse) {
  const char* bad[] = {"",          " 1.2.3.4", "1.2.3.4 ",   "1.2.3.4.5",  "256.0.0.1",
                       "1.2.3.256", "1..2.3",   "1.2.3.",     ".1.2.3",     "a.b.c.d",
                       "09.1.1.1",  "0x.1.1.1", "1.16777216", "4294967296", "1.2.3.4x",
                       "-1.2.3.4",  "+1.2.3.4", "computer-7"};
  for (const char* text : bad) EXPECT_EQ(ParseIpv4(text), kInvalidIpv4) << text;
  EXPECT_EQ(ParseIpv4(nullptr), kInvalidIpv4);
}

TEST(FormatIpv4, WritesDottedDecimalInWireOrder) {
  EXPECT_EQ(FormatIpv4(MakeIpv4(10, 0, 200, 7)), "10.0.200.7");
  EXPECT_EQ(FormatIpv4(ParseIpv4("172.16.254.1")), "172.16.254.1");
}

TEST(LocalHost, HasANameAndTheLoopbackAddressLast) {
  EXPECT_FALSE(LocalHostName().empty());
  std::vector<uint32_t> addresses = LocalIpv4Addresses();
  auto loopback = std::find(addresses.begin(), addresses.end(), MakeIpv4(127, 0, 0, 1));
  ASSERT_NE(loopback, addresses.end());
  // Loopback addresses come after every other address.
  for (auto it = loopback; it != addresses.end(); ++it) {
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&*it)[0], 127) << FormatIpv4(*it);
  }
}

}  // namespace
}  // namespace docsec
