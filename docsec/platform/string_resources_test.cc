#include "docsec/platform/string_resources.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

namespace docsec {
namespace {

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST(StringResources, LanguageFollowsTheEnvironmentUntilTheCallerPicksOne) {
  ASSERT_STREQ(std::setlocale(LC_MESSAGES, nullptr), "C");  // the program set no locale
  ScopedEnv messages("LC_MESSAGES", nullptr);
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
    ScopedEnv all("LC_ALL", c.lc_all);
    ScopedEnv lang("LANG", c.lang);
    EXPECT_EQ(GetResourceLanguage(), c.expected) << (c.lc_all ? c.lc_all : "-");
  }

  ScopedEnv all("LC_ALL", "zh_CN.UTF-8");
  SetResourceLanguage(ResourceLanguage::kEnglish);
  EXPECT_STREQ(LoadResourceString(kIdsNullSecretLevel), "None");
  EXPECT_STREQ(LoadResourceString(999), "");
  SetResourceLanguage(ResourceLanguage::kProcessLocale);
  EXPECT_EQ(GetResourceLanguage(), ResourceLanguage::kChinese);
}

}  // namespace
}  // namespace docsec
