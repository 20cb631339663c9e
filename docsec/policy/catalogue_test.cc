// The secret-level and application catalogues: loading, retrying, racing, releasing, and the null
// level.
#include "docsec/policy/catalogue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "docsec/core/library.h"
#include "docsec/platform/string_resources.h"
#include "docsec/policy/application.h"
#include "docsec/policy/dept_def_app_secret_level.h"
#include "docsec/policy/secret_level.h"
#include "docsec/testing/fake_server.h"

namespace docsec {
namespace {

using testing::FakeServer;

constexpr char kLevels[] =
    "<document><return code=\"0\"/><secretLevel id=\"3\" name=\"Inner\"/>"
    "<secretLevel id=\"5\" name=\"Secret\" isSystemDefault=\"true\"/>"
    "<secretLevel name=\"Unnumbered\"/></document>";
constexpr char kApplications[] =
    "<document><return code=\"0\"/><application name=\"Word\"/><application name=\"Excel\"/>"
    "</document>";
constexpr char kRefused[] = "<document><return code=\"7\"/></document>";

std::string NameOf(CDOSecretLevel* level) {
  char name[64];
  level->GetName(name, sizeof name);
  return name;
}

class Catalogues : public ::testing::Test {
 protected:
  void SetUp() override { ReleaseBoth(); }
  void TearDown() override {
    ReleaseBoth();
    SetResourceLanguage(ResourceLanguage::kProcessLocale);
  }
  static void ReleaseBoth() {
    CDOApplication::ReleaseAllInstance();
    CDOSecretLevel::ReleaseAllInstance();
  }
  FakeServer server_;
};

TEST_F(Catalogues, FailedLoadIsRetriedThenTheCatalogueIsKept) {
  server_.SetDefaultAnswer(kRefused);
  EXPECT_EQ(CDOSecretLevel::GetAllInstance(), nullptr);
  EXPECT_TRUE(CDOSecretLevel::GetDefaultInstance()->IsNull());  // tried again, refused again
  EXPECT_EQ(server_.request_count(), 2u);

  server_.QueueAnswer(kLevels);
  DataObjectList* levels = CDOSecretLevel::GetAllInstance();
  ASSERT_NE(levels, nullptr);
  EXPECT_EQ(levels->GetSize(), 3);
  EXPECT_EQ(server_.last_request(),
            FakeServer::RequestText("<service value=\"QuerySecretLevel\"/><secretLevel/>"));
  EXPECT_EQ(CDOSecretLevel::GetAllInstance(), levels);
  EXPECT_EQ(CDOSecretLevel::GetDefaultInstance(), levels->GetAt(1));
  EXPECT_EQ(CDOSecretLevel::GetInstanceById(3), levels->GetAt(0));
  for (long unknown : {-1L, 0L, 42L}) {
    CDOSecretLevel* level = CDOSecretLevel::GetInstanceById(unknown);
    EXPECT_EQ(level, CDOSecretLevel::GetNullInstance()) << unknown;
    EXPECT_NE(level->IsNull(), 0);
  }
  EXPECT_EQ(server_.request_count(), 3u);
}

TEST_F(Catalogues, NullLevelIsNamedInTheResourceLanguage) {
  const struct {
    ResourceLanguage language;
    const char* name;
  } cases[] = {{ResourceLanguage::kEnglish, "None"},
               {ResourceLanguage::kChinese, "\xE6\x9C\xAA\xE8\xAE\xBE\xE5\xAF\x86\xE7\xBA\xA7"},
               {ResourceLanguage::kEnglish, "None"}};
  for (const auto& c : cases) {
    SetResourceLanguage(c.language);
    CDOSecretLevel* none = CDOSecretLevel::GetNullInstance();
    char description[64];
    none->GetDescription(description, sizeof description);
    EXPECT_EQ(NameOf(none), c.name);
    EXPECT_STREQ(description, c.name);
    EXPECT_EQ(none->GetId(), -1);
  }
  EXPECT_EQ(server_.request_count(), 0u);
}

TEST_F(Catalogues, EightRacingThreadsLoadOnce) {
  server_.SetResponder([](int, const std::string&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // every thread arrives meanwhile
    return std::string(kLevels);
  });
  constexpr int kThreads = 8;
  std::atomic<bool> go{false};
  std::vector<DataObjectList*> lists(kThreads);
  std::vector<CDOSecretLevel*> defaults(kThreads);
  std::vector<CDOSecretLevel*> unknown(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      lists[i] = CDOSecretLevel::GetAllInstance();
      defaults[i] = CDOSecretLevel::GetDefaultInstance();
      unknown[i] = CDOSecretLevel::GetInstanceById(42);
    });
  }
  go = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(server_.request_count(), 1u);
  ASSERT_NE(lists[0], nullptr);
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(lists[i], lists[0]);
    EXPECT_EQ(defaults[i], lists[0]->GetAt(1));
    EXPECT_EQ(unknown[i], CDOSecretLevel::GetNullInstance());
  }
}

TEST_F(Catalogues, AddAndDeleteKeepTheCatalogueInStepWithTheServer) {
  server_.QueueAnswer(kLevels);
  auto level = std::make_unique<CDOSecretLevel>(-1, "Top", "t");
  server_.QueueAnswer(kRefused);
  EXPECT_EQ(level->Add(), 0);
  EXPECT_EQ(CDOSecretLevel::GetAllInstance()->GetSize(), 3);

  const char* accepted = "<document><return code=\"0\"/><secretLevel id=\"9\"/></document>";
  server_.QueueAnswer(accepted);
  ASSERT_EQ(level->Add(), 1);
  CDOSecretLevel* added = level.release();  // the catalogue's now
  EXPECT_EQ(CDOSecretLevel::GetInstanceById(9), added);
  server_.QueueAnswer(accepted);
  EXPECT_EQ(added->Add(), 1);  // added again: the catalogue still holds it once
  EXPECT_EQ(CDOSecretLevel::GetAllInstance()->GetSize(), 4);

  server_.QueueAnswer(kRefused);
  EXPECT_EQ(added->Delete(), 0);
  EXPECT_EQ(CDOSecretLevel::GetInstanceById(9), added);
  ASSERT_EQ(added->Delete(), 1);
  level.reset(added);  // the caller's again
  EXPECT_TRUE(CDOSecretLevel::GetInstanceById(9)->IsNull());
  EXPECT_EQ(server_.last_request(),
            FakeServer::RequestText(
                "<service value=\"DelSecretLevel\"/><secretLevel id=\"9\" name=\"Top\" "
                "description=\"t\"/>"));
}

TEST_F(Catalogues, ApplicationsAreFoundByTheirExactName) {
  server_.QueueAnswer(kApplications);
  CDOApplication* word = CDOApplication::GetInstanceByName("Word");
  ASSERT_NE(word, nullptr);
  EXPECT_EQ(server_.last_request(),
            FakeServer::RequestText("<service value=\"QueryApplication\"/><application/>"));
  EXPECT_EQ(CDOApplication::GetInstanceByName("word"), nullptr);
  EXPECT_EQ(CDOApplication::GetInstanceByName(nullptr), nullptr);
  EXPECT_EQ(CDOApplication::GetAllInstance()->GetAt(0), word);

  // A default level names its application and level through the catalogues.
  server_.QueueAnswer(kLevels);
  CDODeptDefAppSecretLevel entry;
  entry.SetApplicationName("Word");
  entry.SetSecretLevelId(5);
  EXPECT_EQ(entry.GetApplication(), word);
  EXPECT_EQ(entry.GetSecretLevel(), CDOSecretLevel::GetDefaultInstance());
  EXPECT_EQ(server_.request_count(), 2u);

  // Once Word is gone from the server's list, the entry finds no application.
  CDOApplication::ReleaseAllInstance();
  server_.QueueAnswer("<document><return code=\"0\"/><application name=\"Excel\"/></document>");
  EXPECT_EQ(entry.GetApplication(), nullptr);
}

TEST_F(Catalogues, ShutDownReleasesApplicationsThenSecretLevels) {
  server_.QueueAnswer(kLevels);
  server_.QueueAnswer(kApplications);
  ASSERT_NE(CDOSecretLevel::GetAllInstance(), nullptr);
  ASSERT_NE(CDOApplication::GetAllInstance(), nullptr);
  // From here a released catalogue cannot load again, so asking shows whether it is held.
  server_.SetDefaultAnswer(kRefused);
  std::vector<std::string> held;
  internal::SetLifecycleObserver([&held](const std::string& step) {
    if (step.compare(0, 6, "cache:") != 0) return;
    held.push_back(step + (CDOApplication::GetAllInstance() ? " applications" : "") +
                   (CDOSecretLevel::GetAllInstance() ? " levels" : ""));
  });
  internal::LibraryShutdown();
  internal::SetLifecycleObserver(nullptr);
  ASSERT_TRUE(internal::LibraryStartup());
  EXPECT_EQ(held, (std::vector<std::string>{"cache:1 levels", "cache:2"}));
}

#ifndef NDEBUG
TEST_F(Catalogues, LevelUsedAfterReleaseStopsADebugBuild) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  server_.QueueAnswer(kLevels);
  CDOSecretLevel* level = CDOSecretLevel::GetDefaultInstance();
  ASSERT_EQ(level->GetId(), 5);
  CDOSecretLevel::ReleaseAllInstance();
  // Without AddressSanitizer the library's own mark trips; with it, the sanitizer reports.
  EXPECT_DEATH(level->GetId(), "released|use-after-free");
}
#endif

}  // namespace
}  // namespace docsec
