#include "docsec/platform/icmp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "docsec/platform/host.h"

namespace docsec {
namespace {

TEST(IcmpEcho, LoopbackAnswers) {
  IcmpDetection found = DetectIcmpSocketKind();
  if (found.kind == IcmpSocketKind::kNone) {
    GTEST_SKIP() << "this process may open neither an ICMP datagram socket (see "
                    "net.ipv4.ping_group_range) nor a raw socket (needs CAP_NET_RAW)";
  }
  EXPECT_TRUE(IcmpEcho(found.kind, MakeIpv4(127, 0, 0, 1), 255, 1000));
  // Any address of 127/8 is the local host.
  EXPECT_TRUE(IcmpEcho(found.kind, MakeIpv4(127, 0, 0, 77), 255, 1000));
}

TEST(IcmpEcho, NoKindNeverAnswers) {
  EXPECT_FALSE(IcmpEcho(IcmpSocketKind::kNone, MakeIpv4(127, 0, 0, 1), 255, 1000));
}

// Echoes on several threads at once each recognise their own reply.
TEST(IcmpEcho, ConcurrentEchoesEachGetTheirReply) {
  IcmpDetection found = DetectIcmpSocketKind();
  if (found.kind == IcmpSocketKind::kNone) {
    GTEST_SKIP() << "no ICMP socket may be opened by this process";
  }
  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      if (IcmpEcho(found.kind, MakeIpv4(127, 0, 0, static_cast<uint8_t>(78 + i)), 255, 1000)) {
        ++answered;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(answered.load(), 4);
}

}  // namespace
}  // namespace docsec
