#include "docsec/system/operation.h"

#include <memory>

#include "docsec/channel/outcome.h"
#include "docsec/platform/com_error.h"
#include "docsec/system/name_of_oper.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOperation, kObjectTypeNone, "Operations", "operation", s_clsOperation)

DataObjectList* CDOperation::GetAllInstance() {
  XmlDocument answer = Exchange("Query" + GetObjectName(), [](XmlElement&) { return true; });
  if (!answer) return nullptr;
  // The list exists even when the server lists no operation: an empty catalogue is an answer.
  std::unique_ptr<DataObjectList> list(new DataObjectList);
  try {
    const std::string tag = GetObjectXMLTagName();
    XmlElement element = answer.DocumentElement().SelectChild(tag.c_str());
    for (; element; element.AdvanceToNextSibling(tag.c_str())) {
      auto* operation = static_cast<CDOperation*>(CreateInstance());
      if (operation == nullptr) throw ComError(kErrOutOfMemory);
      list->Add(operation);
      operation->LoadFromXmlNode(element);
      operation->LoadSubXmlNode(element);
    }
  } catch (const ComError& error) {
    DestructElements(list.get());
    SetLibraryFailure(LastOutcome().operation,
                      std::string("the answer's operations cannot be read: ") + error.what());
    throw;
  } catch (...) {
    DestructElements(list.get());
    throw;
  }
  return list.release();
}

int CDOperation::LoadSubXmlNode(const XmlElement& element) {
  if (!element) return 0;
  names_.Reset();
  names_.Load(element);  // an element without names still gives an empty list
  return 1;
}

}  // namespace docsec
