// Certificate and offline login.
#include "docsec/users/user.h"

namespace docsec {

CDOUser* CDOUser::ZelkPKILoginEx(const char*, const char*, const char*) {
  return nullptr;  // Not yet implemented.
}
int CDOUser::PKIOfflineLogin(const char*, const char*) {
  return 0;  // Not yet implemented.
}
int CDOUser::GetPKIOfflineData(unsigned char*) {
  return 0;  // Not yet implemented.
}
void CDOUser::BytesToHexString(char*, const unsigned char*, int) {}  // Not yet implemented.
void CDOUser::HexStringToBytes(const char*, unsigned char*, int) {}  // Not yet implemented.

}  // namespace docsec
