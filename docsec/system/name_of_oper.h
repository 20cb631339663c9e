// CNameOfOper: one name of an operation of the server's catalogue (CDOperation), an id and a
// value. It keeps the base's object name: it is only ever read as part of an operation.
//
// Ownership: attributes only; the operation's name list owns it. Thread safety: one thread at a
// time.
#ifndef DOCSEC_SYSTEM_NAME_OF_OPER_H_
#define DOCSEC_SYSTEM_NAME_OF_OPER_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class DOCSEC_EXPORT CNameOfOper : public CDataObject {
  DOCSEC_DATA_OBJECT(CNameOfOper)

  static constexpr Attr kId{"id"};
  static constexpr Attr kValue{"value"};
  static constexpr auto kAttributes = Attrs(&kId, &kValue);

  int GetOperationNameID(char* buffer, unsigned long size) { return GetText(kId, buffer, size); }
  int GetOperationNameVALUE(char* buffer, unsigned long size) {
    return GetText(kValue, buffer, size);
  }
};

}  // namespace docsec

#endif  // DOCSEC_SYSTEM_NAME_OF_OPER_H_
