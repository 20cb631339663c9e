#include "docsec/platform/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "docsec/platform/host.h"
#include "docsec/testing/environment.h"

namespace docsec {
namespace {

using Clock = std::chrono::steady_clock;
// Every test listens on a port the system picks, so tests never compete for one.
constexpr uint32_t kLoopback = MakeIpv4(127, 0, 0, 1);

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A listener with one accepted connection to it.
struct Pair {
  TcpListener listener;
  TcpSocket client;
  TcpSocket server;

  Pair() {
    std::string error;
    EXPECT_TRUE(listener.Listen(kLoopback, 0, 4, &error)) << error;
    EXPECT_TRUE(client.Connect(kLoopback, listener.Port(), 2000));
    server = listener.Accept(2000);
    EXPECT_TRUE(server.IsOpen());
  }
};

TEST(TcpSocket, ConnectsAndCarriesBytesBothWays) {
  Pair p;
  EXPECT_EQ(p.client.PeerAddress(), kLoopback);
  EXPECT_NE(p.listener.Port(), 0);
  ASSERT_TRUE(p.client.SendAll("hello", 5));
  char in[5];
  ASSERT_EQ(p.server.ReceiveAll(in, sizeof in), 5u);
  EXPECT_EQ(std::string(in, 5), "hello");
  ASSERT_TRUE(p.server.SendAll("ok", 2));
  p.server.Close();
  char back[8];
  // End of stream ends ReceiveAll early with what arrived.
  EXPECT_EQ(p.client.ReceiveAll(back, sizeof back), 2u);
  EXPECT_EQ(p.client.Receive(back, sizeof back), 0);
}

TEST(TcpSocket, RefusedConnectionFailsAtOnce) {
  // A port that was just given up: nothing listens there, and the refusal must end the wait, not
  // the 2-second time-out.
  uint16_t port = 0;
  {
    TcpListener gone;
    ASSERT_TRUE(gone.Listen(kLoopback, 0, 1, nullptr));
    port = gone.Port();
  }
  auto start = Clock::now();
  TcpSocket s;
  EXPECT_FALSE(s.Connect(kLoopback, port, 2000));
  EXPECT_FALSE(s.IsOpen());
  EXPECT_LT(MillisecondsSince(start), 1000);
}

// Many connections started at once and waited for together: one that comes up and one that is
// refused are both ready, and WaitWritable tells them apart.
TEST(TcpSocket, ConnectionsWaitedForTogether) {
  TcpListener open, gone;
  ASSERT_TRUE(open.Listen(kLoopback, 0, 4, nullptr));
  ASSERT_TRUE(gone.Listen(kLoopback, 0, 1, nullptr));
  const uint16_t refused_port = gone.Port();
  gone.Close();
  struct Case {
    uint16_t port;
    bool comes_up;
  } cases[] = {{open.Port(), true}, {refused_port, false}};
  std::vector<TcpSocket> sockets(2);
  std::vector<TcpSocket*> waited;
  for (size_t i = 0; i < 2; ++i) {
    ASSERT_TRUE(sockets[i].Open());
    ASSERT_TRUE(sockets[i].SetNonBlocking(true));
    sockets[i].StartConnect(kLoopback, cases[i].port);
    waited.push_back(&sockets[i]);
  }
  std::vector<char> ready(2, 0);
  for (auto until = Clock::now() + std::chrono::seconds(5);
       Clock::now() < until && !(ready[0] && ready[1]);) {
    std::vector<char> now;
    ASSERT_TRUE(WaitForWritable(waited, 1000, &now));
    for (size_t i = 0; i < 2; ++i) ready[i] = ready[i] || now[i];
  }
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(ready[i]) << i;
    EXPECT_EQ(sockets[i].WaitWritable(0), cases[i].comes_up) << i;
  }
}

// The descriptor limit is raised as far as asked (within the system's ceiling), never lowered.
TEST(TcpSocket, DescriptorLimitIsRaisedNotLowered) {
  const size_t now = RaiseOpenDescriptorLimit(1);
  EXPECT_GE(now, 1u);
  EXPECT_EQ(RaiseOpenDescriptorLimit(1), now);
  const size_t more = RaiseOpenDescriptorLimit(now + 16);
  EXPECT_GE(more, now);
  EXPECT_LE(more, now + 16);
}

TEST(TcpSocket, TimeoutCapShortensLongTimeouts) {
  Pair p;
  SetSocketTimeoutCapForTesting(200);
  ASSERT_TRUE(p.client.SetTimeouts(300000, 300000));
  SetSocketTimeoutCapForTesting(0);
  auto start = Clock::now();
  char c;
  EXPECT_EQ(p.client.Receive(&c, 1), -1);
  EXPECT_TRUE(p.client.TimedOut());
  long long ms = MillisecondsSince(start);
  EXPECT_GE(ms, 150);
  EXPECT_LT(ms, 5000);
}

TEST(TcpSocket, DeadlineBoundsReceiveAndSend) {
  Pair p;
  auto start = Clock::now();
  p.server.SetDeadline(start + std::chrono::milliseconds(150));
  char c;
  EXPECT_EQ(p.server.Receive(&c, 1), -1);
  EXPECT_TRUE(p.server.TimedOut());
  EXPECT_GE(MillisecondsSince(start), 140);
  // A send into a peer that reads nothing fills the buffers, then stops at the deadline.
  std::string block(1 << 20, 'x');
  start = Clock::now();
  p.server.SetDeadline(start + std::chrono::milliseconds(200));
  bool sent_all = true;
  for (int i = 0; i < 256 && sent_all; ++i) sent_all = p.server.SendAll(block.data(), block.size());
  EXPECT_FALSE(sent_all);
  EXPECT_TRUE(p.server.TimedOut());
  EXPECT_LT(MillisecondsSince(start), 5000);
}

TEST(TcpSocket, ShutdownFromAnotherThreadWakesAReceive) {
  Pair p;
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    p.server.ShutdownBoth();
  });
  auto start = Clock::now();
  char c;
  EXPECT_LE(p.server.Receive(&c, 1), 0);
  EXPECT_LT(MillisecondsSince(start), 5000);
  waker.join();
}

// A send blocked on a full connection (the peer reads nothing) is woken the same way, with and
// without a deadline: the wake-up must not depend on how the call waits.
TEST(TcpSocket, ShutdownFromAnotherThreadWakesASend) {
  for (bool with_deadline : {false, true}) {
    Pair p;
    if (with_deadline) p.client.SetDeadline(Clock::now() + std::chrono::seconds(30));
    std::thread waker([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      p.client.ShutdownBoth();
    });
    auto start = Clock::now();
    std::string block(256 * 1024, 'x');
    bool failed = false;
    for (int i = 0; i < 4096 && !failed; ++i)
      failed = !p.client.SendAll(block.data(), block.size());
    EXPECT_TRUE(failed) << with_deadline;
    EXPECT_LT(MillisecondsSince(start), 10000) << with_deadline;
    waker.join();
  }
}

TEST(TcpSocket, AbortResetsThePeer) {
  if (testing::RunningUnderWine()) {
    GTEST_SKIP() << "Wine closes a socket with a zero linger time in order, without a reset";
  }
  Pair p;
  p.client.Abort();
  EXPECT_FALSE(p.client.IsOpen());
  char c;
  EXPECT_EQ(p.server.Receive(&c, 1), -1);
  EXPECT_FALSE(p.server.TimedOut());
}

TEST(TcpSocket, SendToAClosedPeerFailsWithoutSignal) {
  Pair p;
  p.server.Abort();
  std::string block(64 * 1024, 'x');
  bool failed = false;
  // The first sends may still be taken; a later one must fail rather than raise SIGPIPE.
  for (int i = 0; i < 64 && !failed; ++i) failed = !p.client.SendAll(block.data(), block.size());
  EXPECT_TRUE(failed);
}

TEST(TcpListener, ReportsWhyItCannotListen) {
  TcpListener first;
  std::string error;
  ASSERT_TRUE(first.Listen(kLoopback, 0, 4, &error));
  TcpListener second;
  EXPECT_FALSE(second.Listen(kLoopback, first.Port(), 4, &error));
  EXPECT_NE(error.find("bind"), std::string::npos) << error;
  EXPECT_FALSE(second.IsOpen());
  // Nothing waiting: Accept gives a closed socket after its time-out.
  EXPECT_FALSE(first.Accept(10).IsOpen());
}

}  // namespace
}  // namespace docsec
