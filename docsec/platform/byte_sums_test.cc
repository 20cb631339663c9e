#include "docsec/platform/byte_sums.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace docsec {
namespace {

ByteSums NaiveSums(const uint8_t* data, size_t size) {
  ByteSums sums;
  for (size_t j = 0; j < size; ++j) {
    sums.plain += data[j];
    sums.weighted += static_cast<uint32_t>(j) * data[j];
  }
  return sums;
}

TEST(ByteSums, EmptyRunIsZero) {
  ByteSums sums = SumBytes(nullptr, 0);
  EXPECT_EQ(sums.plain, 0u);
  EXPECT_EQ(sums.weighted, 0u);
}

// Sizes around the 64-byte chunk and 16-byte vector edges, at aligned and unaligned starts.
TEST(ByteSums, MatchesPlainLoopForEverySizeAndAlignment) {
  std::mt19937 rng(7);
  std::vector<uint8_t> buffer(5000 + 16);
  for (auto& b : buffer) b = static_cast<uint8_t>(rng());
  for (size_t offset : {0u, 1u, 7u, 15u}) {
    for (size_t size : {1u, 15u, 16u, 17u, 63u, 64u, 65u, 127u, 128u, 129u, 1000u, 5000u}) {
      ByteSums fast = SumBytes(buffer.data() + offset, size);
      ByteSums slow = NaiveSums(buffer.data() + offset, size);
      EXPECT_EQ(fast.plain, slow.plain) << "offset " << offset << " size " << size;
      EXPECT_EQ(fast.weighted, slow.weighted) << "offset " << offset << " size " << size;
    }
  }
}

// All bytes 0xFF over several MiB: the weighted sum wraps many times past 2^32.
TEST(ByteSums, WrapsModulo32BitsOnLargeRuns) {
  std::vector<uint8_t> buffer((4u << 20) + 37, 0xFF);
  ByteSums fast = SumBytes(buffer.data(), buffer.size());
  ByteSums slow = NaiveSums(buffer.data(), buffer.size());
  EXPECT_EQ(fast.plain, slow.plain);
  EXPECT_EQ(fast.weighted, slow.weighted);
}

}  // namespace
}  // namespace docsec
