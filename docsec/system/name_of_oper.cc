#include "docsec/system/name_of_oper.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CNameOfOper, kObjectTypeNone, "CDataObject", "name", s_clsName)

}  // namespace docsec
