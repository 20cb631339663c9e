#include "docsec/platform/icmp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "docsec/platform/host.h"

namespace docsec {
namespace {

TEST(IcmpEcho, LoopbackAnswers) {
  IcmpDetection found = DetectIcmp();
  if (!found.usable()) {
    GTEST_SKIP() << "this process may not send echoes (" << found.failure
                 << "): POSIX needs an ICMP datagram socket (see net.ipv4.ping_group_range) or "
                    "a raw socket (CAP_NET_RAW)";
  }
  EXPECT_TRUE(IcmpEcho(found.method, MakeIpv4(127, 0, 0, 1), 255, 1000));
  // Any address of 127/8 is the local host.
  EXPECT_TRUE(IcmpEcho(found.method, MakeIpv4(127, 0, 0, 77), 255, 1000));
}

TEST(IcmpEcho, NoMethodNeverAnswers) {
  EXPECT_FALSE(IcmpEcho(kNoIcmp, MakeIpv4(127, 0, 0, 1), 255, 1000));
  // A value no detection hands out is refused rather than used.
  EXPECT_FALSE(IcmpEcho(-7, MakeIpv4(127, 0, 0, 1), 255, 1000));
}

// Echoes on several threads at once each recognise their own reply.
TEST(IcmpEcho, ConcurrentEchoesEachGetTheirReply) {
  IcmpDetection found = DetectIcmp();
  if (!found.usable()) GTEST_SKIP() << "this process may not send echoes: " << found.failure;
  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      if (IcmpEcho(found.method, MakeIpv4(127, 0, 0, static_cast<uint8_t>(78 + i)), 255, 1000)) {
        ++answered;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(answered.load(), 4);
}

// Many echoes at once from many threads: none loses its reply to the others' messages.
TEST(IcmpEcho, CrowdsOfEchoesAllGetTheirReplies) {
  IcmpDetection found = DetectIcmp();
  if (!found.usable()) GTEST_SKIP() << "this process may not send echoes: " << found.failure;
  std::atomic<int> silent{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 150; ++i) {
        if (!IcmpEcho(found.method, MakeIpv4(127, 0, static_cast<uint8_t>(10 + t), 1 + i), 255,
                      1000)) {
          ++silent;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(silent.load(), 0);
}

TEST(IcmpEchoMany, EveryAddressGetsItsOwnAnswer) {
  IcmpDetection found = DetectIcmp();
  std::vector<uint32_t> addresses;
  // More replies at once than a socket's queue holds by default.
  for (int i = 0; i < 4000; ++i) {
    addresses.push_back(MakeIpv4(127, 0, static_cast<uint8_t>(40 + i / 200), 1 + i % 200));
  }
  addresses.push_back(addresses.front());  // the same address twice is asked twice
  std::vector<char> answered;
  IcmpEchoMany(kNoIcmp, addresses, 255, 1000, 64, &answered);
  EXPECT_EQ(answered, std::vector<char>(addresses.size(), 0));
  if (!found.usable()) GTEST_SKIP() << "this process may not send echoes: " << found.failure;
  for (size_t window : {size_t{1}, size_t{64}, size_t{4096}}) {
    IcmpEchoMany(found.method, addresses, 255, 1000, window, &answered);
    EXPECT_EQ(answered, std::vector<char>(addresses.size(), 1)) << "window " << window;
  }
}

}  // namespace
}  // namespace docsec
