// CDOperation: one entry of the read-only catalogue of operations the server keeps: an id, a value
// and a list of names (CNameOfOper).
//
// Ownership: the operation owns its name list with its members; catalogue lists returned by
// GetAllInstance are not cached and belong to the caller with their members. Thread safety: one
// thread at a time.
#ifndef DOCSEC_SYSTEM_OPERATION_H_
#define DOCSEC_SYSTEM_OPERATION_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class CNameOfOper;

class DOCSEC_EXPORT CDOperation : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOperation)

  static constexpr Attr kId{"id"};
  static constexpr Attr kValue{"value"};
  static constexpr auto kAttributes = Attrs(&kId, &kValue);

  int GetOperationId(char* buffer, unsigned long size) { return GetText(kId, buffer, size); }
  int GetOperationValue(char* buffer, unsigned long size) { return GetText(kValue, buffer, size); }

  // The whole catalogue ("QueryOperations"), read again on every call: a new list of operations
  // with their names, owned by the caller with its members; empty when the server lists none, null
  // on failure.
  DataObjectList* GetAllInstance();
  // Replaces the name list with the "name" children of `element` (an empty list when there are
  // none); 1, or 0 when the children cannot be selected.
  int LoadSubXmlNode(const XmlElement& element);
  // The name list, null before LoadSubXmlNode; owned by the operation.
  DataObjectList* GetNameList() { return names_.get(); }

 private:
  OwnedList<CNameOfOper> names_;
};

}  // namespace docsec

#endif  // DOCSEC_SYSTEM_OPERATION_H_
