// Data-object benchmarks, each beside its baseline so the ratio can be read off one run:
//   - loading a realistic 20 MB department-tree answer into data objects vs. pugixml parsing it;
//   - building and serialising a 20,000-object batch request vs. pugixml doing the same;
//   - local search conditions over 100,000 objects (the figure is time per object).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <pugixml.hpp>
#include <random>
#include <string>

#include "docsec/core/data_object.h"
#include "docsec/platform/ole_date_time.h"
#include "docsec/testing/fake_server.h"
#include "svctransport/svctransport.h"

namespace docsec {
namespace {

// ---- realistic classes, declared as the real ones will be ----

#define BENCH_CLASS(Name, object_name, tag)                                           \
  class Name : public CDataObject {                                                   \
   public:                                                                            \
    Name() { InitializeClass(s_schema); }                                             \
    CDataObject* CreateInstance() override { return new Name; }                       \
    std::string GetObjectName() override { return object_name; }                      \
    std::string GetObjectXMLTagName() override { return tag; }                        \
    using CDataObject::SetAttrValue;                                                  \
                                                                                      \
   protected:                                                                         \
    void Initialize() override;                                                       \
                                                                                      \
   private:                                                                           \
    static inline ClassSchemaSlot s_schema;                                           \
  };

BENCH_CLASS(BenchUser, "User", "user")
BENCH_CLASS(BenchComputer, "Computer", "computer")
BENCH_CLASS(BenchPosition, "Position", "position")
BENCH_CLASS(BenchIp, "IpSegment", "ip")

void BenchUser::Initialize() {
  AddAttribute("id", kVtInt);
  AddAttribute("name");
  AddAttribute("loginName");
  AddAttribute("password");
  AddAttribute("email");
  AddAttribute("phone");
  AddAttribute("deptId", kVtInt);
  AddAttribute("positionId", kVtInt);
  AddAttribute("isSupervisor", kVtBool);
  AddAttribute("isApproved", kVtBool);
  AddAttribute("status", kVtInt);
  AddAttribute("secretLevelId", kVtInt);
  AddAttribute("createTime", kVtDate);
  AddAttribute("updateTime", kVtDate);
  AddAttribute("description");
  AddKeyAttribute("id");
}

void BenchComputer::Initialize() {
  AddAttribute("id", kVtInt);
  AddAttribute("name");
  AddAttribute("ip");
  AddAttribute("mac");
  AddAttribute("uuid");
  AddAttribute("deptId", kVtInt);
  AddAttribute("isApproved", kVtBool);
  AddAttribute("osVersion");
  AddAttribute("agentVersion");
  AddAttribute("lastLoginTime", kVtDate);
  AddAttribute("status", kVtInt);
  AddAttribute("userName");
  AddAttribute("description");
  AddKeyAttribute("id");
}

void BenchPosition::Initialize() {
  AddAttribute("id", kVtInt);
  AddAttribute("name");
  AddAttribute("deptId", kVtInt);
  AddAttribute("superPositionId", kVtInt);
  AddAttribute("description");
  AddKeyAttribute("id");
}

void BenchIp::Initialize() {
  AddAttribute("id", kVtInt);
  AddAttribute("deptId", kVtInt);
  AddAttribute("ipFrom");
  AddAttribute("ipTo");
  AddAttribute("description");
  AddKeyAttribute("id");
}

// A department that loads its nested tree, as the real department's refresh does.
class BenchDepartment : public CDataObject {
 public:
  BenchDepartment() { InitializeClass(s_schema); }
  ~BenchDepartment() override {
    for (DataObjectList* list : {departments_, users_, computers_, positions_, ips_}) {
      DestructElements(list);
      delete list;
    }
  }
  CDataObject* CreateInstance() override { return new BenchDepartment; }
  std::string GetObjectName() override { return "Department"; }
  std::string GetObjectXMLTagName() override { return "department"; }
  int LoadFromXmlNode(const XmlElement& element) override {
    CDataObject::LoadFromXmlNode(element);
    static BenchDepartment* const dept = new BenchDepartment;
    static BenchUser* const user = new BenchUser;
    static BenchComputer* const computer = new BenchComputer;
    static BenchPosition* const position = new BenchPosition;
    static BenchIp* const ip = new BenchIp;
    LoadSubObjectsFromXmlNode(element, &users_, user);
    LoadSubObjectsFromXmlNode(element, &computers_, computer);
    LoadSubObjectsFromXmlNode(element, &positions_, position);
    LoadSubObjectsFromXmlNode(element, &ips_, ip);
    LoadSubObjectsFromXmlNode(element, &departments_, dept);
    return 1;
  }
  size_t CountObjects() const {
    size_t n = 1 + users_->size() + computers_->size() + positions_->size() + ips_->size();
    for (CDataObject* d : *departments_) n += static_cast<BenchDepartment*>(d)->CountObjects();
    return n;
  }

 protected:
  void Initialize() override {
    AddAttribute("id", kVtInt);
    AddAttribute("name");
    AddAttribute("superDeptId", kVtInt);
    AddAttribute("description");
    AddAttribute("isDelSubDeptIpSegment", kVtBool);
    AddAttribute("createTime", kVtDate);
    AddAttribute("updateTime", kVtDate);
    AddLoadOnlyAttribute("superDeptPath");
    AddLoadOnlyAttribute("isSystemDefault", kVtBool);
    AddKeyAttribute("id");
  }

 private:
  static inline ClassSchemaSlot s_schema;
  DataObjectList* departments_ = nullptr;
  DataObjectList* users_ = nullptr;
  DataObjectList* computers_ = nullptr;
  DataObjectList* positions_ = nullptr;
  DataObjectList* ips_ = nullptr;
};

// ---- the generated answer ----

std::string Date(std::mt19937& rng) {
  char text[32];
  std::snprintf(text, sizeof text, "20%02d-%02d-%02d %02d:%02d:%02d", 15 + static_cast<int>(rng() % 10),
                1 + static_cast<int>(rng() % 12), 1 + static_cast<int>(rng() % 28),
                static_cast<int>(rng() % 24), static_cast<int>(rng() % 60),
                static_cast<int>(rng() % 60));
  return text;
}

struct Generator {
  std::mt19937 rng{42};
  std::string out;
  int next_user = 1, next_computer = 1, next_position = 1, next_ip = 1, next_dept = 1;

  void User(int dept) {
    int id = next_user++;
    out += "<user id=\"" + std::to_string(id) + "\" name=\"User Name " + std::to_string(id) +
           "\" loginName=\"u" + std::to_string(id) + "\" password=\"5f4dcc3b5aa765d61d8327deb882cf99\""
           " email=\"user" + std::to_string(id) + "@example.com\" phone=\"+1 555 01" +
           std::to_string(id % 100) + "\" deptId=\"" + std::to_string(dept) + "\" positionId=\"" +
           std::to_string(rng() % 5000) + "\" isSupervisor=\"" + (rng() % 10 ? "false" : "true") +
           "\" isApproved=\"true\" status=\"" + std::to_string(rng() % 3) + "\" secretLevelId=\"" +
           std::to_string(rng() % 5) + "\" createTime=\"" + Date(rng) + "\" updateTime=\"" +
           Date(rng) + "\" description=\"\"/>";
  }
  void Computer(int dept) {
    int id = next_computer++;
    char ip[32], mac[32];
    std::snprintf(ip, sizeof ip, "10.%d.%d.%d", id >> 16 & 255, id >> 8 & 255, id & 255);
    std::snprintf(mac, sizeof mac, "00:1A:2B:%02X:%02X:%02X", id >> 16 & 255, id >> 8 & 255, id & 255);
    out += "<computer id=\"" + std::to_string(id) + "\" name=\"PC-" + std::to_string(id) +
           "\" ip=\"" + ip + "\" mac=\"" + mac + "\" uuid=\"6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c" +
           std::to_string(100000 + id) + "\" deptId=\"" + std::to_string(dept) +
           "\" isApproved=\"true\" osVersion=\"Windows 10 Pro\" agentVersion=\"3.2.1\" "
           "lastLoginTime=\"" + Date(rng) + "\" status=\"1\" userName=\"u" +
           std::to_string(rng() % 50000) + "\" description=\"\"/>";
  }
  void Position(int dept) {
    int id = next_position++;
    out += "<position id=\"" + std::to_string(id) + "\" name=\"Position " + std::to_string(id) +
           "\" deptId=\"" + std::to_string(dept) + "\" superPositionId=\"0\" description=\"\"/>";
  }
  void Ip(int dept) {
    int id = next_ip++;
    out += "<ip id=\"" + std::to_string(id) + "\" deptId=\"" + std::to_string(dept) +
           "\" ipFrom=\"10." + std::to_string(id % 256) + ".0.1\" ipTo=\"10." +
           std::to_string(id % 256) + ".0.254\" description=\"\"/>";
  }
  // Up to six sub-departments each, five levels, depth first until 1,000 departments exist.
  void Department(int depth, int super, int* budget) {
    int id = next_dept++;
    --*budget;
    out += "<department id=\"" + std::to_string(id) + "\" name=\"Department " +
           std::to_string(id) + "\" superDeptId=\"" + std::to_string(super) +
           "\" description=\"\" isDelSubDeptIpSegment=\"false\" createTime=\"" + Date(rng) +
           "\" updateTime=\"" + Date(rng) + "\" superDeptPath=\"/1/" + std::to_string(super) +
           "\">";
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
}
BENCHMARK(BM_ParseAnswer_PugixmlBaseline)->Unit(benchmark::kMillisecond);

void BM_LoadAnswerIntoObjects(benchmark::State& state) {
  const std::string& text = AnswerText();
  size_t objects = 0;
  double bytes_per_object = 0;
  for (auto _ : state) {
    XmlDocument doc = XmlDocument::Create();
    doc.LoadXml(text);
    auto root = std::make_unique<BenchDepartment>();
    root->LoadFromXmlNode(doc.DocumentElement().SelectChild("department"));
    state.PauseTiming();
    objects = root->CountObjects();
    doc = XmlDocument();  // the objects alone remain
    size_t with_objects = HeapInUse();
    root.reset();
    bytes_per_object = static_cast<double>(with_objects - HeapInUse()) / objects;
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["objects"] = static_cast<double>(objects);
  state.counters["bytes_per_object"] = bytes_per_object;
}
BENCHMARK(BM_LoadAnswerIntoObjects)->Unit(benchmark::kMillisecond);

// ---- building and serialising a batch ----

constexpr int kBatchObjects = 20000;

std::vector<std::unique_ptr<BenchComputer>> MakeComputers() {
  std::vector<std::unique_ptr<BenchComputer>> computers;
  for (int i = 0; i < kBatchObjects; ++i) {
    auto c = std::make_unique<BenchComputer>();
    c->SetAttrValue("id", Variant(i));
    c->SetAttrValue("name", Variant("PC-" + std::to_string(i)));
    c->SetAttrValue("ip", Variant("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256)));
    c->SetAttrValue("mac", Variant("00:1A:2B:3C:4D:5E"));
    c->SetAttrValue("uuid", Variant("6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f"));
    c->SetAttrValue("deptId", Variant(i % 1000));
    c->SetAttrValue("isApproved", Variant(true));
    c->SetAttrValue("osVersion", Variant("Windows 10 Pro"));
    c->SetAttrValue("agentVersion", Variant("3.2.1"));
    c->SetAttrValue("lastLoginTime", Variant::Date(44000.5 + i / 100.0));
    c->SetAttrValue("status", Variant(1));
    c->SetAttrValue("userName", Variant("u" + std::to_string(i)));
    c->SetAttrValue("description", Variant("desk " + std::to_string(i)));
    computers.push_back(std::move(c));
  }
  return computers;
}

void BM_BuildRequest_PugixmlBaseline(benchmark::State& state) {
  auto computers = MakeComputers();
  // The same values as plain data, as a program using pugixml directly would hold them.
  struct Row {
    int id, dept, status;
    std::string name, ip, mac, uuid, os, agent, last, user, description;
  };
  std::vector<Row> rows;
  for (int i = 0; i < kBatchObjects; ++i) {
    char last[32];
    OleDateTime::FormatDateTime(44000.5 + i / 100.0, last, sizeof last);
    rows.push_back({i, i % 1000, 1, "PC-" + std::to_string(i),
                    "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256),
                    "00:1A:2B:3C:4D:5E", "6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f", "Windows 10 Pro",
                    "3.2.1", last, "u" + std::to_string(i), "desk " + std::to_string(i)});
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
      e.append_attribute("id").set_value(r.id);
      e.append_attribute("name").set_value(r.name.c_str());
      e.append_attribute("ip").set_value(r.ip.c_str());
      e.append_attribute("mac").set_value(r.mac.c_str());
      e.append_attribute("uuid").set_value(r.uuid.c_str());
      e.append_attribute("deptId").set_value(r.dept);
      e.append_attribute("isApproved").set_value("true");
      e.append_attribute("osVersion").set_value(r.os.c_str());
      e.append_attribute("agentVersion").set_value(r.agent.c_str());
      e.append_attribute("lastLoginTime").set_value(r.last.c_str());
      e.append_attribute("status").set_value(r.status);
      e.append_attribute("userName").set_value(r.user.c_str());
      e.append_attribute("description").set_value(r.description.c_str());
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
  BenchComputer receiver;
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
  std::vector<std::unique_ptr<BenchUser>> users;
  for (int i = 0; i < kObjects; ++i) {
    auto u = std::make_unique<BenchUser>();
    u->SetAttrValue("id", Variant(i));
    u->SetAttrValue("name", Variant("User Name " + std::to_string(i)));
    u->SetAttrValue("deptId", Variant(i % 1000));
    u->SetAttrValue("email", Variant("user" + std::to_string(i) + "@example.com"));
    users.push_back(std::move(u));
  }
  ValueMap conditions;
  conditions.Set("name", Variant("name 12"));
  conditions.Set("deptId", Variant(12));
  size_t matched = 0;
  for (auto _ : state) {
    matched = 0;
    for (auto& u : users) matched += u->CheckSearchConditions(&conditions);
    benchmark::DoNotOptimize(matched);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kObjects);
  state.counters["ns_per_object"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kObjects,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["matched"] = static_cast<double>(matched);
}
BENCHMARK(BM_CheckSearchConditions)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace docsec
