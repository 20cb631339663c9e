#include "docsec/policy/secret_level.h"

#include <mutex>
#include <string>

#include "docsec/core/library.h"
#include "docsec/platform/string_resources.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOSecretLevel, kObjectTypeNone, "SecretLevel", "secretLevel",
                          s_clsSecretLevel)

namespace {

CDataObject* Prototype() { return CDOSecretLevel::GetClassInstance(); }

// s_pListAllSecretLevel. Left to the end of the process on purpose: the library's shut-down, which
// runs from a static destructor, releases it.
internal::Catalogue& Levels() {
  static internal::Catalogue* levels =
      new internal::Catalogue(&Prototype, kSecretLevelCache, &CDOSecretLevel::ReleaseAllInstance);
  return *levels;
}

}  // namespace

CDOSecretLevel::CDOSecretLevel(long id, const char* name, const char* description)
    : CDOSecretLevel() {
  SetId(id);
  SetName(name);
  SetDescription(description);
}

DataObjectList* CDOSecretLevel::GetAllInstance() { return Levels().Get(); }

void CDOSecretLevel::ReleaseAllInstance() { Levels().Release(); }

CDOSecretLevel* CDOSecretLevel::GetInstanceById(long id) {
  // -1 means no level, so a member that lacks an id is never the answer for it.
  CDataObject* found = Levels().Find(
      [id](CDataObject* m) { return id != -1 && static_cast<CDOSecretLevel*>(m)->GetId() == id; });
  return found != nullptr ? static_cast<CDOSecretLevel*>(found) : GetNullInstance();
}

CDOSecretLevel* CDOSecretLevel::GetDefaultInstance() { return GetInstanceById(kDefaultLevelId); }

CDOSecretLevel* CDOSecretLevel::GetNullInstance() {
  // Built with the texts of the language of the moment, and written again only when the language
  // changed, so that threads reading the null level's name do not race with a rewrite of the same
  // text.
  static std::mutex mutex;
  static std::string shown = LoadResourceString(kIdsNullSecretLevel);
  static CDOSecretLevel null_level(-1, shown.c_str(), shown.c_str());
  const char* text = LoadResourceString(kIdsNullSecretLevel);
  std::lock_guard<std::mutex> lock(mutex);
  if (shown != text) {
    shown = text;
    null_level.SetName(text);
    null_level.SetDescription(text);
  }
  return &null_level;
}

int CDOSecretLevel::Add() {
  Live();
  GetAllInstance();
  if (!CDataObject::Add()) return 0;
  Levels().Adopt(this);
  return 1;
}

int CDOSecretLevel::Delete() {
  Live();
  GetAllInstance();
  if (!CDataObject::Delete()) return 0;
  Levels().Detach(this);
  return 1;
}

}  // namespace docsec
