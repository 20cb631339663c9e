#include "docsec/platform/thread_slot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace docsec {
namespace {

std::atomic<int> g_alive{0};

struct Counted {
  Counted() { ++g_alive; }
  ~Counted() { --g_alive; }
  int uses = 0;
};

// Each thread has its own object, kept between calls and destroyed when the thread ends.
TEST(PerThread, OneObjectPerThreadDestroyedAtThreadExit) {
  Counted& mine = PerThread<Counted>();
  ++mine.uses;
  EXPECT_EQ(&PerThread<Counted>(), &mine);
  const int before = g_alive.load();
  for (int round = 0; round < 3; ++round) {
    std::thread other([&] {
      Counted& theirs = PerThread<Counted>();
      EXPECT_NE(&theirs, &mine);
      EXPECT_EQ(theirs.uses, 0);
      ++theirs.uses;
      EXPECT_EQ(g_alive.load(), before + 1);
    });
    other.join();
    EXPECT_EQ(g_alive.load(), before) << "round " << round;
  }
  EXPECT_EQ(PerThread<Counted>().uses, 1);
}

}  // namespace
}  // namespace docsec
