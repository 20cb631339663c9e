// CDOFile: the server's identity of a file (id, GUID, creation time), what file authorizations are
// built from; also the base of the remote file of a managed computer (CDOAgentFile).
//
// Ownership: attributes only. Thread safety: one thread at a time.
#ifndef DOCSEC_POLICY_FILE_H_
#define DOCSEC_POLICY_FILE_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class DOCSEC_EXPORT CDOFile : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOFile)

  static constexpr Attr kId{"id", kVtInt, kAttrKey};  // the server's id; no accessor
  static constexpr Attr kGuid{"GUID"};
  static constexpr Attr kCreateTime{"createTime", kVtDate};
  // In no list: never sent nor loaded, it carries only what a caller set on this object.
  static constexpr Attr kInnerId{"innerId", kVtInt, 0};
  static constexpr auto kAttributes = Attrs(&kId, &kGuid, &kCreateTime, &kInnerId);

  DOCSEC_TEXT_PROPERTY(Uuid, kGuid)
  DOCSEC_DATE_PROPERTY(CreateTime, kCreateTime)
  DOCSEC_INT_PROPERTY(Id, kInnerId)
};

}  // namespace docsec

#endif  // DOCSEC_POLICY_FILE_H_
