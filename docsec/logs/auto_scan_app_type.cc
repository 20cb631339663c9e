#include "docsec/logs/auto_scan_app_type.h"

#include <memory>

#include "docsec/channel/outcome.h"
#include "docsec/logs/scan_file_extend.h"
#include "docsec/platform/com_error.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOAutoScanAppType, kObjectTypeAutoScanAppType, "AppExe", "appExe",
                          s_clsAutoScanAppType)

namespace {

// A scan type is a code of at least two characters; anything shorter names no scan the agents
// know, and such an application is left out of the supported list.
constexpr size_t kMinScanTypeLength = 2;

// Makes `list` (present even when `parent` holds no member) and appends a T loaded from each child
// of `parent` named `tag`, in order, when `keep` accepts it. A member is in the list before the
// next child is read, so an error part way keeps what was read.
template <class T, class Keep>
void LoadMembers(const XmlElement& parent, const char* tag, OwnedList<T>& list, Keep keep) {
  list.Ensure();
  for (XmlElement child = parent.SelectChild(tag); child; child.AdvanceToNextSibling(tag)) {
    std::unique_ptr<T> member(new T);
    member->LoadFromXmlNode(child);
    if (keep(member.get())) list.Add(member.release());
  }
}

}  // namespace

int CDOAutoScanAppType::GetAllAutoScanAppList() {
  XmlDocument answer = Exchange("GetScanFileTypeAtConsole", [](XmlElement&) { return true; });
  if (!answer) return 0;
  apps_.Reset();
  extends_.Reset();
  try {
    XmlElement root = answer.DocumentElement();
    if (XmlElement apps = root.SelectChild("appExes")) {
      LoadMembers(apps, "appExe", apps_, [](CDOAutoScanAppType* app) {
        return app->GetText(kScanType).size() >= kMinScanTypeLength;
      });
    }
    if (XmlElement extends = root.SelectChild("extends"))
      LoadMembers(extends, "extend", extends_, [](CDOScanFileExtend*) { return true; });
  } catch (const ComError& error) {
    // what was read so far stays
    return SetLibraryFailure("GetScanFileTypeAtConsole",
                             std::string("the answer cannot be read: ") + error.what());
  }
  return 1;
}

int CDOAutoScanAppType::SetAllAutoScanAppList() {
  return Exchange("SetScanFileTypeAtConsole",
                  [this](XmlElement& root) {
                    XmlElement extends = root.AppendElement("extends");
                    if (extends_) AssemblySubObjectsXMLNodes(extends, extends_.get());
                    return true;
                  })
             ? 1
             : 0;
}

int CDOAutoScanAppType::AddScanFileExtend(CDOScanFileExtend* extension) {
  if (extension == nullptr) return SetLibraryFailure("AddScanFileExtend", "no extension given");
  if (FindFileExtend(extension) != nullptr) return 1;
  std::unique_ptr<CDOScanFileExtend> copy(new CDOScanFileExtend);
  copy->CopyAttrValues(extension);
  extends_.Add(copy.release());
  return 1;
}

int CDOAutoScanAppType::RemoveScanFileExtend(CDOScanFileExtend* extension) {
  if (extension == nullptr) return SetLibraryFailure("RemoveScanFileExtend", "no extension given");
  for (CDOScanFileExtend* member : extends_) {
    if (member == nullptr) return 0;
    if (member->Equals(extension)) {
      extends_.Delete(member);
      break;
    }
  }
  return 1;
}

CDOScanFileExtend* CDOAutoScanAppType::FindFileExtend(CDOScanFileExtend* extension) {
  if (extension == nullptr) return nullptr;
  for (CDOScanFileExtend* member : extends_)
    if (member != nullptr && member->Equals(extension)) return member;
  return nullptr;
}

}  // namespace docsec
