#include "docsec/platform/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace docsec {
namespace {

TEST(Trace, SinkReceivesFormattedTextsAndCanBeRemoved) {
  std::vector<std::string> seen;
  TraceSink previous = SetTraceSink([&seen](const std::string& t) { seen.push_back(t); });
  Trace("Ping %X OK", 0x0100007Fu);
  Trace("dataHead Sent:%d", 16);
  SetTraceSink(previous);
  Trace("not seen");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "Ping 100007F OK");
  EXPECT_EQ(seen[1], "dataHead Sent:16");
}

TEST(Trace, LongTextsAreCutNotOverrun) {
  std::string got;
  TraceSink previous = SetTraceSink([&got](const std::string& t) { got = t; });
  std::string big(5000, 'x');
  Trace("%s", big.c_str());
  SetTraceSink(previous);
  EXPECT_GT(got.size(), 100u);
  EXPECT_LT(got.size(), big.size());
}

}  // namespace
}  // namespace docsec
