#include "docsec/policy/policy.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOPolicy, kObjectTypeNone, "Policy", "policy", s_clsPolicy)

CDOPolicy::CDOPolicy(CDODepartment*, CDOSecretLevel*) : CDOPolicy() {
  // Not yet implemented.
}

int CDOPolicy::LoadFromXmlNode(const XmlElement& element) {
  return LoadFromXmlNodeWithAuth(element);
}

XmlElement CDOPolicy::AssemblyXMLNodeWithAuth(const XmlElement&) {
  return XmlElement();  // Not yet implemented.
}

int CDOPolicy::LoadFromXmlNodeWithAuth(const XmlElement&) {
  return 0;  // Not yet implemented.
}

CDOSecretLevel* CDOPolicy::GetSecretLevel() {
  return nullptr;  // Not yet implemented.
}

DataObjectList* CDOPolicy::GetValidAuthByPosition() {
  return nullptr;  // Not yet implemented.
}

DataObjectList* CDOPolicy::GetValidAuthByUser() {
  return nullptr;  // Not yet implemented.
}

int CDOPolicy::IsEmpty() {
  return 0;  // Not yet implemented.
}

CDOAuthLevelByUser* CDOPolicy::GrantUser(CDOUser*, long) {
  return nullptr;  // Not yet implemented.
}

CDOAuthLevelByPosition* CDOPolicy::GrantPosition(CDOPosition*, long) {
  return nullptr;  // Not yet implemented.
}

int CDOPolicy::RefuseUser(CDOAuthLevelByUser*) {
  return 0;  // Not yet implemented.
}

int CDOPolicy::RefusePosition(CDOAuthLevelByPosition*) {
  return 0;  // Not yet implemented.
}

CDataObject* CDOPolicy::GrantRole(CDataObject*, long) {
  return nullptr;  // Not yet implemented.
}

int CDOPolicy::RefuseRole(CDataObject*) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
