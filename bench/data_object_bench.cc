// Data-object benchmarks on the library's own classes, each beside its baseline so the ratio can be
// read off one run:
//   - refreshing a department from a realistic 20 MB tree answer (through the in-process transport)
//     vs. pugixml parsing the same text; memory per loaded object; deleting the loaded tree;
//   - searching the loaded tree's users and finding one of its computers (time per object);
//   - building and serialising a 20,000-object batch request vs. pugixml doing the same;
//   - local search conditions over 100,000 objects (the figure is time per object).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <pugixml.hpp>
#include <random>
#include <string>
#include <vector>

#include "docsec/computers/computer.h"
#include "docsec/core/data_object.h"
#include "docsec/org/department.h"
#include "docsec/platform/ole_date_time.h"
#include "docsec/testing/fake_server.h"
#include "docsec/users/user.h"
#include "svctransport/svctransport.h"

namespace docsec {
namespace {

// ---- the generated answer ----

std::string Date(std::mt19937& rng) {
  char text[32];
  std::snprintf(text, sizeof text, "20%02d-%02d-%02d %02d:%02d:%02d",
                15 + static_cast<int>(rng() % 10), 1 + static_cast<int>(rng() % 12),
                1 + static_cast<int>(rng() % 28), static_cast<int>(rng() % 24),
                static_cast<int>(rng() % 60), static_cast<int>(rng() % 60));
  return text;
}

// The answer a server gives to a refresh of the whole tree: 1,000 departments, each with 50 users,
// 20 computers, 5 positions and 2 IP segments, every object with the attributes its class reads.
struct Generator {
  std::mt19937 rng{42};
  std::string out;
  int next_user = 1, next_computer = 1, next_position = 1, next_ip = 1, next_dept = 1;

  std::string Path(int dept) { return "/Department 1/Department " + std::to_string(dept); }
  const char* Bool(int one_in) { return rng() % one_in ? "false" : "true"; }

  void User(int dept) {
    int id = next_user++;
    out += "<user id=\"u" + std::to_string(id) + "\" name=\"User Name " + std::to_string(id) +
           "\" isConsoleManager=\"" + Bool(50) + "\" isSupervisor=\"" + Bool(10) +
           "\" tel=\"+1 555 01" + std::to_string(id % 100) + "\" mail=\"user" + std::to_string(id) +
           "@example.com\" description=\"\" departmentId=\"" + std::to_string(dept) +
           "\" consolePermission=\"" + std::to_string(rng() % 4096) + "\" encryptMode=\"" +
           std::to_string(rng() % 3) + "\" adminDept=\"" + std::to_string(dept) +
           "\" isLock=\"false\" departmentPath=\"" + Path(dept) + "\" isSystemDefault=\"false\"/>";
  }
  void Computer(int dept) {
    int id = next_computer++;
    char ip[32];
    std::snprintf(ip, sizeof ip, "10.%d.%d.%d", id >> 16 & 255, id >> 8 & 255, id & 255);
    out += "<computer uuid=\"6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c" + std::to_string(100000 + id) +
           "\" ip=\"" + ip + "\" name=\"PC-" + std::to_string(id) +
           "\" isApproved=\"true\" status=\"" + std::to_string(rng() % 3) +
           "\" agentVersion=\"3.2.1\" updateStatus=\"" + std::to_string(rng() % 2) +
           "\" isManualEncrypt=\"" + Bool(5) + "\" updateTime=\"" + Date(rng) +
           "\" departmentId=\"" + std::to_string(dept) +
           "\" allowUpdate=\"true\" extPermission=\"" + std::to_string(rng() % 16) +
           "\" isEncrypt=\"" + Bool(2) + "\" departmentPath=\"" + Path(dept) +
           "\" lastLoginTiime=\"" + Date(rng) + "\"/>";
  }
  void Position(int dept) {
    int id = next_position++;
    out += "<position id=\"" + std::to_string(id) + "\" departmentId=\"" + std::to_string(dept) +
           "\" positionName=\"Position " + std::to_string(id) +
           "\" description=\"\" isSysCreate=\"false\" departmentPath=\"" + Path(dept) + "\"/>";
  }
  void Ip(int) {
    int id = next_ip++;
    out += "<ip ipFrom=\"10." + std::to_string(id % 256) + ".0.1\" ipTo=\"10." +
           std::to_string(id % 256) + ".0.254\"/>";
  }
  // Up to six sub-departments each, five levels, depth first until 1,000 departments exist.
  void Department(int depth, int super, int* budget) {
    int id = next_dept++;
    --*budget;
    out += "<department id=\"" + std::to_string(id) + "\" name=\"Department " + std::to_string(id) +
           "\" superDeptId=\"" + std::to_string(super) + "\" description=\"\" office=\"Building " +
           std::to_string(id % 7) +
           "\" telephone=\"+1 555 0100\" fax=\"+1 555 0199\" innerPermission=\"" +
           std::to_string(rng() % 256) + "\" authorPermission=\"" + std::to_string(rng() % 256) +
           "\" currentVersion=\"3.2.1\" superDeptPath=\"" + Path(super) +
           "\" isSystemDefault=\"false\">";
    for (int i = 0; i < 50; ++i) User(id);
    for (int i = 0; i < 20; ++i) Computer(id);
    for (int i = 0; i < 5; ++i) Position(id);
    for (int i = 0; i < 2; ++i) Ip(id);
    if (depth < 5) {
      for (int i = 0; i < 6 && *budget > 0; ++i) Department(depth + 1, id, budget);
    }
    out += "</department>";
  }
  std::string Answer() {
    out = "<document><return code=\"0\"/>";
    int budget = 1000;
    Department(1, 0, &budget);
    out += "</document>";
    return out;
  }
};

const std::string& AnswerText() {
  static const std::string text = [] {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    return Generator().Answer();
  }();
  return text;
}

size_t HeapInUse() { return mallinfo2().uordblks; }

void BM_ParseAnswer_PugixmlBaseline(benchmark::State& state) {
  const std::string& text = AnswerText();
  for (auto _ : state) {
    auto doc = std::make_unique<pugi::xml_document>();
    doc->load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    benchmark::DoNotOptimize(doc->document_element());
    state.PauseTiming();  // freeing is not part of either side's figure
    doc.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["answer_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ParseAnswer_PugixmlBaseline)->Unit(benchmark::kMillisecond);

// The least any loader that reads an answer through the parser's interface must do: parse in
// place (as the library does), then visit every element and read each attribute's name and value
// with the fewest calls that interface allows. What BM_RefreshSubObjects takes beyond this is the
// library's own work: objects, name look-ups, conversions and copies.
void BM_ParseAndWalkAnswer_PugixmlFloor(benchmark::State& state) {
  const std::string& text = AnswerText();
  size_t attributes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string buffer = text;  // the transport's delivery gives the loader its own copy too
    auto doc = std::make_unique<pugi::xml_document>();
    state.ResumeTiming();
    doc->load_buffer_inplace(buffer.data(), buffer.size(), pugi::parse_default,
                             pugi::encoding_utf8);
    attributes = 0;
    size_t sum = 0;
    // In document order, as the library loads: the parser lays its nodes and the texts out in
    // that order, and a walk against it takes more than twice as long.
    const pugi::xml_node root = doc->document_element();
    for (pugi::xml_node node = root; node;) {
      if (node.type() == pugi::node_element && node.first_attribute()) {
        pugi::xml_attribute_iterator it = node.attributes_begin();
        const pugi::xml_attribute& a = *it;
        for (;; ++it) {
          const char* name = a.name();
          if (name[0] == '\0' && !a) break;
          sum += static_cast<unsigned char>(name[0]) + static_cast<unsigned char>(a.value()[0]);
          ++attributes;
        }
      }
      pugi::xml_node next = node.first_child();
      while (!next && node != root) {
        next = node.next_sibling();
        if (!next) node = node.parent();
      }
      node = next;
    }
    benchmark::DoNotOptimize(sum);
    state.PauseTiming();
    doc.reset();
    buffer = std::string();
    state.ResumeTiming();
  }
  state.counters["attributes"] = static_cast<double>(attributes);
}
BENCHMARK(BM_ParseAndWalkAnswer_PugixmlFloor)->Unit(benchmark::kMillisecond);

// Answers every request with the generated tree, through the transport's in-process delivery.
class TreeServer {
 public:
  TreeServer()
      : previous_(SvcTransportSetHandler([](int, const std::string&) { return AnswerText(); })) {}
  ~TreeServer() { SvcTransportSetHandler(previous_); }

 private:
  SvcTransportHandler previous_;
};

size_t CountObjects(CDODepartment* department) {
  size_t n = 1;
  for (DataObjectList* list : {department->GetUsers(), department->GetComputers(),
                               department->GetPositons(), department->GetIpSegments()}) {
    n += list->size();
  }
  for (CDataObject* d : *department->GetSubDepartments()) {
    n += CountObjects(static_cast<CDODepartment*>(d));
  }
  return n;
}

// A root department with the whole generated tree loaded, as a console's refresh leaves it.
std::unique_ptr<CDODepartment> LoadTree() {
  auto root = std::make_unique<CDODepartment>();
  root->SetId(1);
  if (!root->RefreshSubObjects(1, 1, 1, 1, 0)) std::abort();
  return root;
}

// The request goes out, the answer's text comes back through the transport, is parsed and loaded:
// everything a console waits for. Freeing the tree is measured on its own below.
void BM_RefreshSubObjects(benchmark::State& state) {
  TreeServer server;
  size_t objects = 0;
  double bytes_per_object = 0;
  for (auto _ : state) {
    std::unique_ptr<CDODepartment> root = LoadTree();
    state.PauseTiming();
    objects = CountObjects(root.get());
    size_t with_objects = HeapInUse();  // the answer document is gone: the objects alone remain
    root.reset();
    bytes_per_object = static_cast<double>(with_objects - HeapInUse()) / objects;
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * AnswerText().size()));
  state.counters["objects"] = static_cast<double>(objects);
  state.counters["bytes_per_object"] = bytes_per_object;
}
BENCHMARK(BM_RefreshSubObjects)->Unit(benchmark::kMillisecond);

// Deleting the root of a loaded tree; compare with BM_RefreshSubObjects.
void BM_DeleteLoadedTree(benchmark::State& state) {
  TreeServer server;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<CDODepartment> root = LoadTree();
    state.ResumeTiming();
    root.reset();
  }
}
BENCHMARK(BM_DeleteLoadedTree)->Unit(benchmark::kMillisecond);

// A console's user search over the whole tree: 50,000 users, one name condition.
void BM_SearchUsersRecursive(benchmark::State& state) {
  std::unique_ptr<CDODepartment> root;
  {
    TreeServer server;
    root = LoadTree();
  }
  size_t users = 0, matched = 0;
  for (auto _ : state) {
    DataObjectList* found = root->SearchUsers(nullptr, "name 12", 0, 0, 1);
    matched = found->size();
    ShallowDelete(found);
  }
  DataObjectList* all = root->SearchUsers(nullptr, nullptr, 0, 0, 1);
  users = all->size();
  ShallowDelete(all);
  state.counters["users"] = static_cast<double>(users);
  state.counters["matched"] = static_cast<double>(matched);
  state.counters["ns_per_user"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * users,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SearchUsersRecursive)->Unit(benchmark::kMillisecond);

// Finding the last of the tree's 20,000 computers by its UUID, written in capitals.
void BM_FindComputerByUuid(benchmark::State& state) {
  std::unique_ptr<CDODepartment> root;
  {
    TreeServer server;
    root = LoadTree();
  }
  DataObjectList* all = root->SearchComputers(nullptr, nullptr, 2, 1);
  const size_t computers = all->size();
  char uuid[64];
  static_cast<CDOComputer*>(all->GetAt(all->GetSize() - 1))->GetUuid(uuid, sizeof uuid);
  ShallowDelete(all);
  for (char* c = uuid; *c != '\0'; ++c) *c = static_cast<char>(std::toupper(*c));
  for (auto _ : state) {
    if (root->FindComputerByUuid(uuid) == nullptr) state.SkipWithError("not found");
  }
  state.counters["computers"] = static_cast<double>(computers);
  state.counters["ns_per_computer"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * computers,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FindComputerByUuid)->Unit(benchmark::kMillisecond);

// ---- building and serialising a batch ----

constexpr int kBatchObjects = 20000;

std::vector<std::unique_ptr<CDOComputer>> MakeComputers() {
  std::vector<std::unique_ptr<CDOComputer>> computers;
  for (int i = 0; i < kBatchObjects; ++i) {
    auto c = std::make_unique<CDOComputer>();
    c->SetUuid("6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f");
    c->SetIp(("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256)).c_str());
    c->SetName(("PC-" + std::to_string(i)).c_str());
    c->SetIsApproved(true);
    c->SetComputerScanStatus(1);
    c->SetComputerVersion("3.2.1");
    c->SetComputerUpdateStatus(0);
    c->SetComputerManualEncryptState(1);
    c->SetUpdateTime(44000.5 + i / 100.0);
    c->SetDepartmentId(i % 1000);
    c->SetIsAllowUpdate(true);
    c->SetComputerSpecialPermission(i % 16);
    c->SetIsAutoScanEnctypt(false);
    computers.push_back(std::move(c));
  }
  return computers;
}

void BM_BuildRequest_PugixmlBaseline(benchmark::State& state) {
  // The same values as plain data, as a program using pugixml directly would hold them.
  struct Row {
    int dept, permission;
    std::string uuid, ip, name, version, update_time;
  };
  std::vector<Row> rows;
  for (int i = 0; i < kBatchObjects; ++i) {
    char update_time[32];
    OleDateTime::FormatDateTime(44000.5 + i / 100.0, update_time, sizeof update_time);
    rows.push_back({i % 1000, i % 16, "6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f",
                    "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256),
                    "PC-" + std::to_string(i), "3.2.1", update_time});
  }
  size_t bytes = 0;
  for (auto _ : state) {
    pugi::xml_document doc;
    pugi::xml_node pi = doc.append_child(pugi::node_pi);
    pi.set_name("xml");
    pi.set_value("version=\"1.0\" encoding=\"UTF-8\"");
    pugi::xml_node root = doc.append_child("document");
    root.append_child("service").append_attribute("value").set_value("UpdateComputer");
    for (const Row& r : rows) {
      pugi::xml_node e = root.append_child("computer");
      e.append_attribute("uuid").set_value(r.uuid.c_str());
      e.append_attribute("ip").set_value(r.ip.c_str());
      e.append_attribute("name").set_value(r.name.c_str());
      e.append_attribute("isApproved").set_value("true");
      e.append_attribute("status").set_value(1);
      e.append_attribute("agentVersion").set_value(r.version.c_str());
      e.append_attribute("updateStatus").set_value(0);
      e.append_attribute("isManualEncrypt").set_value("true");
      e.append_attribute("updateTime").set_value(r.update_time.c_str());
      e.append_attribute("departmentId").set_value(r.dept);
      e.append_attribute("allowUpdate").set_value("true");
      e.append_attribute("extPermission").set_value(r.permission);
      e.append_attribute("isEncrypt").set_value("false");
    }
    struct Writer : pugi::xml_writer {
      std::string out;
      void write(const void* data, size_t size) override {
        out.append(static_cast<const char*>(data), size);
      }
    } writer;
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration);
    bytes = writer.out.size();
    benchmark::DoNotOptimize(writer.out.data());
  }
  state.counters["request_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_BuildRequest_PugixmlBaseline)->Unit(benchmark::kMillisecond);

void BM_BatchUpdateThroughTransport(benchmark::State& state) {
  auto computers = MakeComputers();
  DataObjectList list;
  for (auto& c : computers) list.Add(c.get());
  size_t bytes = 0;
  SvcTransportHandler previous = SvcTransportSetHandler([&bytes](int, const std::string& request) {
    bytes = request.size();
    return std::string(testing::FakeServer::kOk);
  });
  CDOComputer receiver;
  for (auto _ : state) {
    if (!receiver.BatchUpdate(&list)) state.SkipWithError("BatchUpdate failed");
  }
  SvcTransportSetHandler(previous);
  state.counters["request_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_BatchUpdateThroughTransport)->Unit(benchmark::kMillisecond);

// ---- local search ----

void BM_CheckSearchConditions(benchmark::State& state) {
  constexpr int kObjects = 100000;
  std::vector<std::unique_ptr<CDOUser>> users;
  for (int i = 0; i < kObjects; ++i) {
    auto u = std::make_unique<CDOUser>();
    u->SetId(("u" + std::to_string(i)).c_str());
    u->SetName(("User Name " + std::to_string(i)).c_str());
    u->SetDepartmentId(i % 1000);
    u->SetMail(("user" + std::to_string(i) + "@example.com").c_str());
    users.push_back(std::move(u));
  }
  ValueMap conditions;
  conditions.Set("name", Variant("name 12"));
  conditions.Set("departmentId", Variant(12));
  size_t matched = 0;
  for (auto _ : state) {
    matched = 0;
    for (auto& u : users) matched += u->CheckSearchConditions(&conditions);
    benchmark::DoNotOptimize(matched);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kObjects);
  state.counters["ns_per_object"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kObjects,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["matched"] = static_cast<double>(matched);
}
BENCHMARK(BM_CheckSearchConditions)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace docsec
