// CDOScanFileExtend: one file extension that the agents' automatic scan handles, with the secret
// level its files get. Extensions are one whatever their letter case ("DOC" is "doc"), so the text
// attributes compare ignoring case.
//
// No shared instance: extensions live only in the list of the CDOAutoScanAppType that loads them.
// Thread safety: one thread at a time.
#ifndef DOCSEC_LOGS_SCAN_FILE_EXTEND_H_
#define DOCSEC_LOGS_SCAN_FILE_EXTEND_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class DOCSEC_EXPORT CDOScanFileExtend : public CDataObject {
  DOCSEC_DATA_OBJECT_NO_INSTANCE(CDOScanFileExtend)

  static constexpr Attr kName{"name", kVtBstr, kAttrKey | kAttrIgnoreCase};
  static constexpr Attr kSecretLevelId{"secretLevelId", kVtInt};
  static constexpr Attr kSecretLevelName{"secretLevelName", kVtBstr, kAttrListed | kAttrIgnoreCase};
  static constexpr auto kAttributes = Attrs(&kName, &kSecretLevelId, &kSecretLevelName);

  DOCSEC_TEXT_PROPERTY(AppName, kName)
  DOCSEC_INT_PROPERTY(SecretLevelId, kSecretLevelId)
  DOCSEC_TEXT_PROPERTY(SecretLevelName, kSecretLevelName)
};

}  // namespace docsec

#endif  // DOCSEC_LOGS_SCAN_FILE_EXTEND_H_
