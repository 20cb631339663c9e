#include "docsec/policy/auth_level_by_position.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOAuthLevelByPosition, kObjectTypeAuthLevelByPosition,
                          "PositionAuthorization", "positionAuthorization",
                          s_clsAuthLevelByPosition)

CDOAuthLevelByPosition::CDOAuthLevelByPosition(CDOPolicy*, CDOPosition*, long)
    : CDOAuthLevelByPosition() {
  // Not yet implemented.
}

int CDOAuthLevelByPosition::IsAuthorizedTo(CDOPosition*) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
