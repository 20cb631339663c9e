#include "docsec/core/water_mark.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT_NO_INSTANCE(CDOWaterMark, kObjectTypeNone, "CDataObject", "CDataObject")

}  // namespace docsec
