// The installed face of the embedded server (libdocsec_server): what it starts with, what it
// refuses, and that a start that fails leaves the transport as it found it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "docsec/server/embedded_server.h"
#include "svctransport/svctransport.h"

namespace docsec::server {
namespace {

constexpr char kSentinel[] = "<document><return code=\"0\" message=\"sentinel\"/></document>";

// A handler of the test's own, installed for each case: the server must put it back.
class EmbeddedServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SvcTransportSetHandler([](int, const std::string&) { return std::string(kSentinel); });
    char pattern[] = "/tmp/docsec-embedded-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    SvcTransportSetHandler(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  static bool SentinelAnswers() {
    std::optional<std::string> answer = SvcTransportSend("<document/>");
    return answer && *answer == kSentinel;
  }
  static bool Has(const EmbeddedServer& server, const std::string& id) {
    for (const EmbeddedAccount& account : server.accounts()) {
      if (account.id == id && !account.password.empty()) return true;
    }
    return false;
  }
  std::string dir_;
};

TEST_F(EmbeddedServerTest, StartsOrRefusesAndRestoresTheHandler) {
  struct Case {
    const char* name;
    bool demo;
    int iterations;
    bool file;  // in a file of the test's folder rather than in memory
    bool started;
    const char* account;  // an account the start must list, if any
  } cases[] = {
      {"demo in memory", true, 1000, false, true, "eng.admin"},
      {"empty in memory", false, 1000, false, true, "admin"},
      {"demo in a file", true, 1000, true, true, "bob"},
      {"default rounds", false, 0, false, true, "admin"},
      {"too few rounds", true, 999, false, false, nullptr},
      {"negative rounds", false, -1, false, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmbeddedServerOptions options;
    options.demo = c.demo;
    options.password_iterations = c.iterations;
    if (c.file) options.database = dir_ + "/db";
    std::string error;
    {
      std::unique_ptr<EmbeddedServer> server = EmbeddedServer::Start(options, &error);
      ASSERT_EQ(server != nullptr, c.started) << error;
      if (server) {
        EXPECT_FALSE(SentinelAnswers());
        EXPECT_TRUE(Has(*server, c.account));
        EXPECT_EQ(server->enterprise_key().size(), c.demo ? 32u : 0u);
      } else {
        EXPECT_NE(error.find("password_iterations"), std::string::npos) << error;
      }
    }
    EXPECT_TRUE(SentinelAnswers());
  }
}

TEST_F(EmbeddedServerTest, ADatabaseIsSeededOnce) {
  EmbeddedServerOptions options;
  options.database = dir_ + "/db";
  options.password_iterations = 1000;
  std::string error;
  ASSERT_NE(EmbeddedServer::Start(options, &error), nullptr) << error;
  // The second demo would meet the first one's data: refused, and nothing stays installed.
  EXPECT_EQ(EmbeddedServer::Start(options, &error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(SentinelAnswers());
  // Without the demo it opens; the accounts were made by the first start, so none are known.
  options.demo = false;
  std::unique_ptr<EmbeddedServer> server = EmbeddedServer::Start(options, &error);
  ASSERT_NE(server, nullptr) << error;
  EXPECT_TRUE(server->accounts().empty());
  EXPECT_FALSE(SentinelAnswers());
}

TEST_F(EmbeddedServerTest, AnUnopenableDatabaseIsReported) {
  EmbeddedServerOptions options;
  options.database = dir_ + "/missing/folder/db";
  std::string error;
  EXPECT_EQ(EmbeddedServer::Start(options, &error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(EmbeddedServer::Start(options, nullptr), nullptr);
  EXPECT_TRUE(SentinelAnswers());
}

}  // namespace
}  // namespace docsec::server
