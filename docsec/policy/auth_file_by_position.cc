#include "docsec/policy/auth_file_by_position.h"

#include "docsec/core/copied_text.h"
#include "docsec/policy/file.h"
#include "docsec/policy/internal/position_entry.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOAuthFileByPosition, kObjectTypeAuthFileByPosition,
                          "FilePositionAuthorization", "filePositionAuthorization",
                          s_clsAuthFileByPosition)

CDOAuthFileByPosition::CDOAuthFileByPosition(CDOFile* file, CDOPosition* position, long permission)
    : CDOAuthFileByPosition() {
  if (file != nullptr) SetFileId(CopiedText(file, &CDOFile::GetUuid).c_str());
  if (position != nullptr) internal::CopyPosition(this, position);
  SetPermission(permission);
}

int CDOAuthFileByPosition::IsAuthorizedTo(CDOPosition* position) {
  return internal::IsEntryForPosition(this, position);
}

}  // namespace docsec
