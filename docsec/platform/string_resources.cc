#include "docsec/platform/string_resources.h"

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#if defined(_WIN32)
#include <windows.h>
#endif

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

#if defined(_WIN32)

// Windows users choose the language of what programs show them, and the library's few texts
// follow that choice; the C runtime's locale speaks for formats, not for the display language.
bool MessageLocaleIsChinese() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE; }

#else

bool IsDefaultLocale(const char* name) {
  return name == nullptr || *name == '\0' || std::strcmp(name, "C") == 0 ||
         std::strcmp(name, "POSIX") == 0;
}

// Whether the message locale names Chinese ("zh_CN.UTF-8", "zh_TW", "zh").
bool MessageLocaleIsChinese() {
  const char* name = std::setlocale(LC_MESSAGES, nullptr);
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

#endif

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
