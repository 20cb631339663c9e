#include "docsec/org/ip_segment.h"

#include <algorithm>
#include <string>
#include <vector>

#include "docsec/channel/outcome.h"
#include "docsec/org/department.h"
#include "docsec/org/internal/department_walk.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOIpSegment, kObjectTypeIpSegment, "IpSegment", "ip", s_clsIpSegment)

CDOIpSegment::CDOIpSegment(CDOIpSegment* other) : CDOIpSegment() { CopyAttrValues(other); }

CDODepartment* CDOIpSegment::GetOwnerDepartment() { return owner_; }
void CDOIpSegment::SetOwnerDepartment(CDODepartment* owner) { owner_ = owner; }

int CDOIpSegment::UpdateIpSegment(CDOIpSegment* replacement) {
  // Without an owner there is no department to name in the request.
  if (replacement == nullptr) return SetLibraryFailure("UpdateIpSegment", "no replacement given");
  if (owner_ == nullptr) {
    return SetLibraryFailure("UpdateIpSegment", "the segment belongs to no department");
  }
  // Empty or missing texts are not copied: the target keeps what it had. Texts are copied whole;
  // an address cut to fit a buffer would name another range.
  auto copy = [](CDOIpSegment* from, const Attr& source, CDOIpSegment* to, const Attr& target) {
    const std::string text = from->GetText(source);
    if (!text.empty()) to->SetText(target, text.c_str());
  };
  copy(this, kIpFrom, this, kOldIpFrom);
  copy(this, kIpTo, this, kOldIpTo);
  copy(replacement, kIpFrom, this, kNewIpFrom);
  copy(replacement, kIpTo, this, kNewIpTo);
  XmlDocument answer = Exchange("UpdateIpSegment", [this](XmlElement& root) {
    XmlElement key = owner_->AssemblyXmlKeyNode(root);
    if (!key) return false;
    AssemblyXmlNode(key);
    return true;
  });
  if (!answer) return 0;
  copy(replacement, kIpFrom, this, kIpFrom);
  copy(replacement, kIpTo, this, kIpTo);
  return 1;
}

int CDODepartment::AddIpSegment(DataObjectList* segments, bool withSubDepartments) {
  if (segments == nullptr) return SetLibraryFailure("SetIpSegment", "no segment list given");
  SetIsDelSubDeptIpSegment(withSubDepartments);
  if (!UpdateSubObjects("SetIpSegment", segments)) return 0;
  // A snapshot: the caller may have passed this department's own segment list.
  const DataObjectList added(*segments);
  for (CDataObject* member : added) {
    auto* segment = dynamic_cast<CDOIpSegment*>(member);
    if (segment == nullptr) continue;
    auto* copy = new CDOIpSegment(segment);
    segments_.Add(copy);
    copy->SetOwnerDepartment(this);
  }
  return 1;
}

int CDODepartment::RemoveIpSegment(DataObjectList* segments, bool withSubDepartments) {
  if (segments == nullptr) return SetLibraryFailure("DelIpSegment", "no segment list given");
  SetIsDelSubDeptIpSegment(withSubDepartments);
  if (!UpdateSubObjects("DelIpSegment", segments)) return 0;
  DataObjectList* own = segments_.get();
  if (own == nullptr) return 1;
  // Every victim is chosen before any is deleted: the argument may hold pointers to this
  // department's own segments (or be its very list), which must stay valid while they are read.
  std::vector<CDataObject*> victims;
  for (CDataObject* member : *segments) {
    if (member == nullptr) continue;
    for (CDataObject* entry : *own) {
      if (std::find(victims.begin(), victims.end(), entry) == victims.end() &&
          member->Equals(entry)) {
        victims.push_back(entry);
        break;
      }
    }
  }
  for (CDataObject* victim : victims) segments_.Delete(victim);
  return 1;
}

int CDODepartment::ClearComputerIpSegment(bool withSubDepartments) {
  SetIsDelSubDeptIpSegment(withSubDepartments);
  if (!UpdateSubObjects("DelIpSegment", segments_.get())) return 0;
  RemoveAllIpSegmentsFromDept(withSubDepartments);
  return 1;
}

void CDODepartment::RemoveAllIpSegmentsFromDept(int recursive) {
  org_internal::WalkDepartments(
      this,
      [](CDODepartment* department) {
        DestructElements(department->segments_.get());
        return false;
      },
      [recursive](CDODepartment*) { return recursive != 0; });
}

}  // namespace docsec
