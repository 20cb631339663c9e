#include "docsec/platform/string_resources.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "docsec/testing/environment.h"

namespace docsec {
namespace {

using testing::ScopedEnvironment;

#if defined(_WIN32)
TEST(StringResources, LanguageFollowsTheDisplayLanguageUntilTheCallerPicksOne) {
  ResourceLanguage display = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE
                                 ? ResourceLanguage::kChinese
                                 : ResourceLanguage::kEnglish;
  ScopedEnvironment all("LC_ALL", "zh_CN.UTF-8");  // not a Windows setting: no effect
  EXPECT_EQ(GetResourceLanguage(), display);
  SetResourceLanguage(ResourceLanguage::kChinese);
  EXPECT_STREQ(LoadResourceString(kIdsNullSecretLevel),
               "\xE6\x9C\xAA\xE8\xAE\xBE\xE5\xAF\x86\xE7\xBA\xA7");
  SetResourceLanguage(ResourceLanguage::kProcessLocale);
  EXPECT_EQ(GetResourceLanguage(), display);
}
#else
TEST(StringResources, LanguageFollowsTheEnvironmentUntilTheCallerPicksOne) {
  ASSERT_STREQ(std::setlocale(LC_MESSAGES, nullptr), "C");  // the program set no locale
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
#endif

}  // namespace
}  // namespace docsec
