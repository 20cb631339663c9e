#include "docsec/platform/string_resources.h"

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace docsec {
namespace {

struct Resource {
  unsigned id;
  const char* english;
  const char* chinese;
};

constexpr Resource kResources[] = {
    {kIdsNullSecretLevel, "None", "\xE6\x9C\xAA\xE8\xAE\xBE\xE5\xAF\x86\xE7\xBA\xA7"},  // 未设密级
};

std::atomic<ResourceLanguage> g_language{ResourceLanguage::kProcessLocale};

bool IsDefaultLocale(const char* name) {
  return name == nullptr || *name == '\0' || std::strcmp(name, "C") == 0 ||
         std::strcmp(name, "POSIX") == 0;
}

// The locale category of messages; systems without one (Windows) have only the whole locale.
#if defined(LC_MESSAGES)
constexpr int kMessageCategory = LC_MESSAGES;
#else
constexpr int kMessageCategory = LC_ALL;
#endif

// Whether the message locale names Chinese ("zh_CN.UTF-8", "zh_TW", "zh").
bool MessageLocaleIsChinese() {
  const char* name = std::setlocale(kMessageCategory, nullptr);
  if (IsDefaultLocale(name)) {
    name = nullptr;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* value = std::getenv(variable);
      if (value != nullptr && *value != '\0') {
        name = value;
        break;
      }
    }
  }
  return name != nullptr && name[0] == 'z' && name[1] == 'h';
}

}  // namespace

void SetResourceLanguage(ResourceLanguage language) { g_language.store(language); }

ResourceLanguage GetResourceLanguage() {
  ResourceLanguage picked = g_language.load();
  if (picked != ResourceLanguage::kProcessLocale) return picked;
  return MessageLocaleIsChinese() ? ResourceLanguage::kChinese : ResourceLanguage::kEnglish;
}

const char* LoadResourceString(unsigned id, ResourceLanguage language) {
  if (language == ResourceLanguage::kProcessLocale) language = GetResourceLanguage();
  for (const Resource& resource : kResources) {
    if (resource.id == id) {
      return language == ResourceLanguage::kChinese ? resource.chinese : resource.english;
    }
  }
  return "";
}

}  // namespace docsec
