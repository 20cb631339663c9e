// CDOWaterMark: a data-object class that declares no attributes and has no shared instance; it
// keeps the base's identity (type 0, object name and tag "CDataObject").
//
// Ownership and thread safety: those of CDataObject.
#ifndef DOCSEC_CORE_WATER_MARK_H_
#define DOCSEC_CORE_WATER_MARK_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class DOCSEC_EXPORT CDOWaterMark : public CDataObject {
  DOCSEC_DATA_OBJECT_NO_INSTANCE(CDOWaterMark)

  static constexpr auto kAttributes = Attrs();
};

}  // namespace docsec

#endif  // DOCSEC_CORE_WATER_MARK_H_
