#include "docsec/system/operation.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOperation, kObjectTypeNone, "Operations", "operation", s_clsOperation)

DataObjectList* CDOperation::GetAllInstance() {
  return nullptr;  // Not yet implemented.
}

int CDOperation::LoadSubXmlNode(const XmlElement&) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
