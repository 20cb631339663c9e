#include "docsec/computers/computer.h"

#include "docsec/channel/outcome.h"
#include "docsec/files/agent_folder.h"
#include "docsec/org/department.h"
#include "docsec/platform/host.h"
#include "docsec/platform/text.h"
#include "docsec/platform/uuid.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT_PARTS(CDOComputer, "Computer", "computer")
DOCSEC_DEFINE_DATA_OBJECT_TYPE(CDOComputer, kObjectTypeComputer)
DOCSEC_DEFINE_DATA_OBJECT_INSTANCE(CDOComputer, s_clsComputer)

namespace {

// Dotted IPv4 text is at most 15 characters; the buffer leaves room for the forms with octal or
// hexadecimal parts that the address reader also takes. Longer text is refused, not cut: a cut
// could turn a text that is no address into one.
constexpr unsigned long kIpTextSize = 32;
// Address texts compared against the local host's.
constexpr size_t kMaxLocalIpText = 259;

// The computers of `list` in order, null entries left out. False when the list is null or holds
// an object of another class: its element would go into a computer request.
// False, with the outcome of `operation` saying why, for a null list or one holding another type.
bool ComputersOf(const char* operation, DataObjectList* list,
                 std::vector<CDOComputer*>* computers) {
  if (list == nullptr) return SetLibraryFailure(operation, "no computer list given");
  for (CDataObject* member : *list) {
    if (member == nullptr) continue;
    auto* computer = dynamic_cast<CDOComputer*>(member);
    if (computer == nullptr) {
      return SetLibraryFailure(operation, "the list holds an object that is not a computer");
    }
    computers->push_back(computer);
  }
  return true;
}

int IndexOf(const DataObjectList* list, const CDataObject* object) {
  if (list == nullptr) return -1;
  for (int i = 0; i < list->GetSize(); ++i) {
    if (list->GetAt(i) == object) return i;
  }
  return -1;
}

// Hands `computer` from its owner department's list to `department`'s. A department list owns
// its members, so the computer must end in exactly one list: the move happens only when the old
// owner lists this very object (a computer its caller owns is not taken over by a department,
// which would delete it), and a target that refuses it gives it back to the old list.
void MoveIntoDepartment(CDOComputer* computer, CDODepartment* department) {
  CDODepartment* old = computer->GetOwnerDepartment();
  computer->SetOwnerDepartment(department);
  DataObjectList* from = old != nullptr ? old->GetComputers() : nullptr;
  const int index = IndexOf(from, computer);
  if (index < 0) return;
  // The department removes the first entry equal to the computer; a twin with the same identity
  // listed before it would go instead and this object would stay listed twice.
  int first_equal = 0;
  while (first_equal < index && !computer->Equals(from->GetAt(first_equal))) ++first_equal;
  if (first_equal == index) {
    old->MoveOutComputer(computer);
  } else {
    from->RemoveAt(index);
  }
  if (!department->MoveInComputer(computer)) {
    from->Add(computer);
    computer->SetOwnerDepartment(old);
  }
}

}  // namespace

CDOComputer::CDOComputer() { DOCSEC_DATA_OBJECT_ADOPT_SCHEMA(CDOComputer); }

CDOComputer::CDOComputer(CDOComputer* other) : CDOComputer() {
  CopyAttrValues(other);
  if (other != nullptr) connection_status_ = other->connection_status_;
}

CDOComputer::~CDOComputer() { delete root_folder_; }

CDOAgentFolder* CDOComputer::GetRootFolder() {
  if (root_folder_ == nullptr) root_folder_ = new CDOAgentFolder(this, "");
  return root_folder_;
}

CDODepartment* CDOComputer::GetOwnerDepartment() { return owner_; }
void CDOComputer::SetOwnerDepartment(CDODepartment* owner) { owner_ = owner; }

long CDOComputer::GetComputerScanStatus() {
  const std::string text = GetText(kStatus);
  return text.empty() ? -1 : LeadingDecimal(text.c_str());
}

long CDOComputer::GetComputerManualEncryptState() {
  if (GetValue(kIsManualEncrypt) == nullptr) return -1;
  return GetBool(kIsManualEncrypt) ? 1 : 0;
}

unsigned long CDOComputer::GetIpV4() {
  char text[kIpTextSize];
  if (GetText(kIp, text, sizeof text) == 0) return kInvalidIpv4;
  return ParseIpv4(text);
}

bool CDOComputer::GetProbeTarget(uint32_t* address, Uuid* uuid) {
  if (!GetIsApproved()) return false;
  const unsigned long ip = GetIpV4();
  if (ip == kInvalidIpv4) return false;
  // Only the 36-character form parses, so no length limit is needed before it.
  if (!Uuid::Parse(GetText(kUuid), uuid)) return false;
  *address = static_cast<uint32_t>(ip);
  return true;
}

int CDOComputer::RefreshConnectionStatus() {
  uint32_t address = 0;
  Uuid uuid;
  if (!GetProbeTarget(&address, &uuid)) return 0;
  const CEnumComputerConnectionStatus before = connection_status_;
  connection_status_ = ProbeAgent(address, uuid);
  return connection_status_ != before ? 1 : 0;
}

int CDOComputer::NotifyAgentConfigChange() {
  // A computer without a usable address cannot be told; 255.255.255.255 is no agent's address.
  const unsigned long address = GetIpV4();
  if (address == kInvalidIpv4) return 0;
  XmlDocument command = BuildAgentCommand("NotifyApproveStatus");
  if (!command) return 0;
  XmlDocument reply = SendAgentCommand(static_cast<uint32_t>(address), command);
  return reply && CheckAgentReply(reply) ? 1 : 0;
}

int CDOComputer::SetThenSend(const std::vector<CDOComputer*>& computers, const Attr& attr,
                             const Variant& value, const std::function<int()>& send) {
  std::vector<Variant> old_values;
  old_values.reserve(computers.size());
  for (CDOComputer* computer : computers) {
    Variant* old = computer->GetValue(attr);
    old_values.push_back(old != nullptr ? *old : Variant());
    computer->SetValue(attr, value);
  }
  const int result = send();
  if (!result) {
    // Backwards, so that a computer listed twice ends with the value it had before the first.
    for (size_t i = computers.size(); i-- > 0;) {
      if (!old_values[i].IsEmpty()) {
        computers[i]->SetValue(attr, old_values[i]);
      } else if (Variant* now = computers[i]->GetValue(attr)) {
        now->Clear();
      }
    }
  }
  return result;
}

int CDOComputer::ChangeDepartment(CDODepartment* department) {
  if (department == nullptr) return SetLibraryFailure("UpdateComputer", "no department given");
  if (owner_ != nullptr && department->Equals(owner_)) return 1;
  if (!SetThenSend({this}, kDepartmentId, Variant(department->GetId()),
                   [this] { return Update(); })) {
    return 0;
  }
  MoveIntoDepartment(this, department);
  return 1;
}

int CDOComputer::ChangeDepartment(DataObjectList* computers, CDODepartment* department) {
  std::vector<CDOComputer*> members;
  if (department == nullptr) return SetLibraryFailure("UpdateComputer", "no department given");
  if (!ComputersOf("UpdateComputer", computers, &members)) return 0;
  if (!SetThenSend(members, kDepartmentId, Variant(department->GetId()),
                   [this, computers] { return UpdateComputerData(computers); })) {
    return 0;
  }
  for (CDOComputer* computer : members) MoveIntoDepartment(computer, department);
  return 1;
}

int CDOComputer::ApplyApprovedStatus(int approved) {
  const bool on = approved == 1;
  if (GetIsApproved() == on) return 1;
  if (!SetThenSend({this}, kIsApproved, Variant(on), [this] { return Update(); })) return 0;
  // The server holds the new approval now; an agent that is not told picks it up later.
  NotifyAgentConfigChange();
  return 1;
}

int CDOComputer::ApplyApprovedStatus(DataObjectList* computers, bool approved) {
  std::vector<CDOComputer*> members;
  if (!ComputersOf("UpdateComputer", computers, &members)) return 0;
  return SetThenSend(members, kIsApproved, Variant(approved),
                     [this, computers] { return UpdateComputerData(computers); });
}

int CDOComputer::UpdateComputerData(DataObjectList* computers) {
  // One "UpdateComputer" request holding every computer's element; the answer is only checked.
  return CDataObject::BatchUpdate(computers);
}

int CDOComputer::IsLocalComputer() {
  const std::string ip = GetText(kIp);
  if (ip.empty() || ip.size() > kMaxLocalIpText) return 0;
  for (uint32_t address : LocalIpv4Addresses()) {
    if (EqualsIgnoreCase(FormatIpv4(address).c_str(), ip.c_str())) {
      is_local_ = 1;
      return 1;
    }
  }
  return 0;
}

}  // namespace docsec
