#include "docsec/platform/string_resources.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "docsec/testing/environment.h"

namespace docsec {
namespace {

using testing::ScopedEnvironment;

#if defined(LC_MESSAGES)
constexpr int kMessageCategory = LC_MESSAGES;
#else
constexpr int kMessageCategory = LC_ALL;
#endif

TEST(StringResources, LanguageFollowsTheEnvironmentUntilTheCallerPicksOne) {
  ASSERT_STREQ(std::setlocale(kMessageCategory, nullptr), "C");  // the program set no locale
  ScopedEnvironment messages("LC_MESSAGES", nullptr);
  const struct {
    const char* lc_all;
    const char* lang;
    ResourceLanguage expected;
  } cases[] = {
      {"zh_CN.UTF-8", nullptr, ResourceLanguage::kChinese},
      {"en_US.UTF-8", "zh_CN.UTF-8", ResourceLanguage::kEnglish},  // LC_ALL comes first
      {"", "zh_TW", ResourceLanguage::kChinese},                   // empty counts as unset
      {nullptr, nullptr, ResourceLanguage::kEnglish},
  };
  for (const auto& c : cases) {
    ScopedEnvironment all("LC_ALL", c.lc_all);
    ScopedEnvironment lang("LANG", c.lang);
    EXPECT_EQ(GetResourceLanguage(), c.expected) << (c.lc_all ? c.lc_all : "-");
  }

  ScopedEnvironment all("LC_ALL", "zh_CN.UTF-8");
  SetResourceLanguage(ResourceLanguage::kEnglish);
  EXPECT_STREQ(LoadResourceString(kIdsNullSecretLevel), "None");
  EXPECT_STREQ(LoadResourceString(999), "");
  SetResourceLanguage(ResourceLanguage::kProcessLocale);
  EXPECT_EQ(GetResourceLanguage(), ResourceLanguage::kChinese);
}

}  // namespace
}  // namespace docsec
