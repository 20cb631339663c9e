// Status queries about the computers of a department's sub-tree: scan state, agent version and
// manual encryption read from the server into the tree's computers, and update, manual-encryption
// and automatic-scan settings pushed back for a list of computers.
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "docsec/channel/data_source.h"
#include "docsec/channel/outcome.h"
#include "docsec/channel/request_channel.h"
#include "docsec/computers/computer.h"
#include "docsec/org/department.h"
#include "docsec/platform/com_error.h"
#include "docsec/platform/text.h"

namespace docsec {
namespace {

// The scan queries go to the scan database behind the second transport entry point; the version
// and manual-encryption queries to the first, whatever the department's own data source.
constexpr int kScanDataSource = kLogDataSource;
constexpr int kSettingsDataSource = kDefaultDataSource;

// Texts exchanged here fit a 260-character buffer: computer identities sent, and values read
// from answers. Longer ones are refused rather than cut, since a cut identity could name another
// computer.
constexpr size_t kTextSize = 260;

// The text of attribute `name` of an answer element. A missing attribute has no text to convert
// and raises ComError(kErrTypeMismatch) to the caller; a text that does not fit gives null, and
// the caller passes over the element.
const char* AnswerText(const XmlElement& element, const char* name) {
  const char* text = element.GetAttribute(name);
  if (text == nullptr) throw ComError(kErrTypeMismatch);
  return std::char_traits<char>::length(text) < kTextSize ? text : nullptr;
}

// The computer's identity as requests carry it; false when it is unset or does not fit, so the
// computer cannot be named.
bool RequestUuid(CDOComputer* computer, char (&uuid)[kTextSize]) {
  return computer->GetUuid(uuid, kTextSize) > 0;
}

void Put(int* counter, int value) {
  if (counter != nullptr) *counter = value;
}

int CountOf(const DataObjectList& list) { return list.GetSize(); }

// The request `operation` with `fill`'s elements, through the entry point of `data_source`: the
// accepted answer, or null (the outcome says why). With RefusedAnswer::kKeep, any answer.
template <class Fill>
XmlDocument SendWith(const char* operation, int data_source, Fill&& fill,
                     RefusedAnswer refused = RefusedAnswer::kDrop) {
  return ExchangeRequest(
      operation, data_source,
      [&fill](XmlElement& root) {
        fill(root);
        return true;
      },
      refused);
}

// Appends one `tag` element naming each computer of `computers` by its identity.
void AppendComputerElements(XmlElement& root, const DataObjectList& computers, const char* tag) {
  char uuid[kTextSize];
  for (CDataObject* member : computers) {
    auto* computer = static_cast<CDOComputer*>(member);
    if (computer != nullptr && RequestUuid(computer, uuid))
      root.AppendElement(tag).AppendAttribute("computerUUID", uuid);
  }
}

// The scan-state request: which scan database, then one "scanLog" per computer.
void FillScanRequest(XmlElement& root, const DataObjectList& computers) {
  root.AppendElement("databaseIndex").AppendAttribute("value", "1");
  AppendComputerElements(root, computers, "scanLog");
}

// Runs `each` with every direct child `tag` of `root` that names, by its attribute `key`, a
// computer of `department`'s sub-tree, and with that computer. Children naming none are passed
// over.
template <class Each>
void ForEachNamedComputer(CDODepartment* department, const XmlElement& root, const char* tag,
                          const char* key, Each&& each) {
  for (XmlElement element = root.SelectChild(tag); element; element.AdvanceToNextSibling(tag)) {
    const char* uuid = AnswerText(element, key);
    CDOComputer* computer = uuid != nullptr ? department->FindComputerByUuid(uuid) : nullptr;
    if (computer != nullptr) each(element, computer);
  }
}

// Writes the "status" of each "scanLog" of the answer into the computer it names, and gives
// `each` (when set) the text written.
void ReadScanStates(CDODepartment* department, const XmlElement& root,
                    const std::function<void(const char* status)>& each) {
  ForEachNamedComputer(department, root, "scanLog", "computerUUID",
                       [&](const XmlElement& element, CDOComputer* computer) {
                         const char* status = AnswerText(element, "status");
                         if (status == nullptr) return;
                         computer->SetComputerScanStatusText(status);
                         if (each) each(status);
                       });
}

// Reads a version answer (null: none came back, or it failed its test) into the computers of
// `department`'s sub-tree and the counters.
void ReadVersionAnswer(CDODepartment* department, const XmlDocument& answer,
                       const DataObjectList& computers, int* total, int* updated, int* done) {
  Put(total, CountOf(computers));
  XmlElement root = answer ? answer.DocumentElement() : XmlElement();
  if (!root) {
    Put(done, 0);
    return;
  }
  int updated_count = 0;
  ForEachNamedComputer(department, root, "computer", "computerUUID",
                       [&](const XmlElement& element, CDOComputer* computer) {
                         const char* version = AnswerText(element, "agentVersion");
                         const char* update = AnswerText(element, "updateStatus");
                         if (version == nullptr || update == nullptr) return;
                         computer->SetComputerVersion(version);
                         const int state = LeadingDecimal(update);
                         computer->SetComputerUpdateStatus(state);
                         if (state == 1) ++updated_count;
                       });
  if (XmlElement service = root.SelectChild("service")) {
    const char* current = service.GetAttribute("currentVersion");
    if (current != nullptr && std::char_traits<char>::length(current) < kTextSize) {
      department->SetCurrentVersion(current);
    }
  }
  Put(updated, updated_count);
  Put(done, 1);
}

}  // namespace

DataObjectList* CDODepartment::SearchComputerScanStatus() {
  try {
    std::unique_ptr<DataObjectList> list(new DataObjectList);
    // Depth first without recursion, so a deep tree cannot exhaust the stack: each entry is a
    // department and the index of its next child to visit (-1: its computers not yet listed).
    std::vector<std::pair<CDODepartment*, int>> path{{this, -1}};
    while (!path.empty()) {
      CDODepartment* department = path.back().first;
      int& next = path.back().second;
      if (next < 0) {
        if (DataObjectList* computers = department->GetComputers()) {
          for (CDataObject* computer : *computers) list->Add(computer);
        }
        next = 0;
      }
      DataObjectList* children = department->GetSubDepartments();
      if (children != nullptr && next < children->GetSize()) {
        auto* child = static_cast<CDODepartment*>(children->GetAt(next++));
        if (child != nullptr) path.emplace_back(child, -1);
      } else {
        path.pop_back();
      }
    }
    return list.release();
  } catch (const std::bad_alloc&) {
    SetLibraryFailure("SearchComputerScanStatus", "out of memory listing the computers");
    return nullptr;
  }
}

DataObjectList* CDODepartment::GetComputerScanStatus(int* total, int* scanned, int* abnormal) {
  std::unique_ptr<DataObjectList> list(SearchComputerScanStatus());
  if (!list) return nullptr;
  XmlDocument answer = SendWith("RptComputerScanStatus", kScanDataSource,
                                [&](XmlElement& root) { FillScanRequest(root, *list); });
  if (!answer) {
    Put(total, CountOf(*list));
    Put(scanned, -1);
    return list.release();
  }
  XmlElement root = answer.DocumentElement();
  ReadScanStates(this, root, nullptr);
  if (XmlElement summary = root.SelectChild("summary")) {
    const char* counts[] = {AnswerText(summary, "total"), AnswerText(summary, "scaned"),
                            AnswerText(summary, "abnormal")};
    if (counts[0] != nullptr && counts[1] != nullptr && counts[2] != nullptr) {
      Put(total, LeadingDecimal(counts[0]));
      Put(scanned, LeadingDecimal(counts[1]));
      Put(abnormal, LeadingDecimal(counts[2]));
    }
  }
  return list.release();
}

DataObjectList* CDODepartment::GetComputerScanStatusEX(int* done, int* total, int* state0,
                                                       int* state1, int* state2) {
  if (done == nullptr || total == nullptr || state0 == nullptr || state1 == nullptr ||
      state2 == nullptr) {
    SetLibraryFailure("RptComputerScanStatus", "a counter to fill is null");
    return nullptr;
  }
  *done = 0;
  std::unique_ptr<DataObjectList> list(SearchComputerScanStatus());
  if (!list) return nullptr;
  *total = CountOf(*list);
  *state0 = *state1 = *state2 = 0;
  XmlDocument answer = SendWith("RptComputerScanStatus", kScanDataSource,
                                [&](XmlElement& root) { FillScanRequest(root, *list); });
  if (!answer) return list.release();
  int* states[] = {state0, state1, state2};
  ReadScanStates(this, answer.DocumentElement(), [&](const char* status) {
    // Text without leading digits reads as 0; other numbers count nowhere.
    const int state = LeadingDecimal(status);
    if (state >= 0 && state <= 2) ++*states[state];
  });
  *done = 1;
  return list.release();
}

DataObjectList* CDODepartment::GetComputerVersionStatus(int* total, int* updated, int* done) {
  std::unique_ptr<DataObjectList> list(SearchComputerScanStatus());
  if (!list) return nullptr;
  XmlDocument answer =
      SendWith("GetComputerVersionStatus", kSettingsDataSource,
               [&](XmlElement& root) { AppendComputerElements(root, *list, "computer"); });
  ReadVersionAnswer(this, answer, *list, total, updated, done);
  return list.release();
}

DataObjectList* CDODepartment::GetComputerVersionStatusEx(int* total, int* updated, int* done) {
  std::unique_ptr<DataObjectList> list(SearchComputerScanStatus());
  if (!list) return nullptr;
  XmlDocument answer = SendWith(
      "GetComputerVersionStatusEx", kSettingsDataSource,
      [this](XmlElement& root) {
        root.AppendElement("department").AppendAttribute("id", static_cast<long long>(GetId()));
      },
      RefusedAnswer::kKeep);
  // The answer is read whatever its return code: the server lists the computers it knows even
  // when it reports a problem with others.
  ReadVersionAnswer(this, answer, *list, total, updated, done);
  return list.release();
}

int CDODepartment::GetComputerAutoHandeEncryptState() {
  XmlDocument answer = SendWith("GetAutoEncrypt", kSettingsDataSource, [this](XmlElement& root) {
    root.AppendElement("computer").AppendAttribute("departmentId", static_cast<long long>(GetId()));
  });
  if (!answer) return 0;
  ForEachNamedComputer(this, answer.DocumentElement(), "computer", "uuid",
                       [](const XmlElement& element, CDOComputer* computer) {
                         const char* manual = AnswerText(element, "isManualEncrypt");
                         if (manual == nullptr) return;
                         // Only the exact text the server writes for "on" turns it on.
                         computer->SetComputerManualEncryptState(std::string(manual) == "true");
                       });
  return 1;
}

int CDODepartment::SetComputerAutoHandeEncryptState(DataObjectList* computers) {
  if (computers == nullptr) return SetLibraryFailure("SetAutoEncrypt", "no computer list given");
  XmlDocument answer = SendWith("SetAutoEncrypt", kSettingsDataSource, [&](XmlElement& root) {
    char uuid[kTextSize];
    for (CDataObject* member : *computers) {
      auto* computer = dynamic_cast<CDOComputer*>(member);
      if (computer == nullptr || !RequestUuid(computer, uuid)) continue;
      XmlElement element = root.AppendElement("computer");
      element.AppendAttribute("uuid", uuid);
      element.AppendAttribute("isManualEncrypt",
                              computer->GetComputerManualEncryptState() == 1 ? "true" : "false");
    }
  });
  return answer ? 1 : 0;
}

int CDODepartment::SetComputerUpdateStatus(DataObjectList* computers) {
  if (computers == nullptr) {
    return SetLibraryFailure("SetComputerUpdateStatus", "no computer list given");
  }
  return Exchange("SetComputerUpdateStatus",
                  [this, computers](XmlElement& root) {
                    AssemblySubObjectsXMLNodes(root, computers);
                    return true;
                  })
             ? 1
             : 0;
}

int CDODepartment::SetAutoScanComputers(DataObjectList* computers, bool encrypt) {
  if (computers == nullptr) return SetLibraryFailure("SetScanComputer", "no computer list given");
  for (CDataObject* member : *computers) {
    if (auto* computer = dynamic_cast<CDOComputer*>(member))
      computer->SetIsAutoScanEnctypt(encrypt);
  }
  return Exchange("SetScanComputer",
                  [this, computers](XmlElement& root) {
                    AssemblySubObjectsXMLNodes(root.AppendElement("computers"), computers);
                    return true;
                  })
             ? 1
             : 0;
}

}  // namespace docsec
