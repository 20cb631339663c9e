// The wire contract between the library, the reference server, the reference agent and the
// console, checked from both sides so that a name spelt on one side only fails here rather than
// in a console at run time: attribute names, XML tags and declared types of every data-object
// class against the server's entity tables; the operation names the library and the console send
// against the server's catalogue; the agent commands against the agent's dispatcher; and the
// result codes against the server's documentation.
//
// The library spells operation and command names at the call that sends them, so those are read
// from its sources (DOCSEC_SOURCE_DIR); class attributes come from the schemas the classes build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "docsec/docsec.h"
#include "docsec/testing/class_checks.h"
#include "tools/agent/agent_service.h"
#include "tools/server/entity.h"
#include "tools/server/operations.h"
#include "tools/server/result_codes.h"

namespace docsec {
namespace {

using server::Entity;
using server::Field;
using server::FieldType;

struct Spelling {
  std::string name;
  std::string file;
};
std::vector<Spelling> Find(const std::vector<std::filesystem::path>& files,
                           const std::regex& pattern);
const std::vector<std::filesystem::path>& LibrarySources();

// ---- data-object classes against entities ----

struct ClassView {
  std::string object_name;
  std::string tag;
  std::map<std::string, uint16_t> attributes;  // every declared name with its variant type
};

template <class T>
ClassView View() {
  T object;
  const ClassSchema& schema = DataObjectAccess::Schema(object);
  ClassView view{object.GetObjectName(), object.GetObjectXMLTagName(), {}};
  for (int slot = 0; slot < schema.SlotCount(); ++slot) {
    view.attributes.emplace(schema.SlotName(slot), schema.SlotType(slot));
  }
  return view;
}

// Every data-object class of the library, with the server entity that stores it or why there is
// none. A new class must be placed here.
struct ClassRow {
  ClassView (*view)();
  const char* class_name;
  const Entity* entity;
  const char* no_entity;  // why the server has no table of the class (null when it has one)
};

const std::vector<ClassRow>& Classes() {
  static const std::vector<ClassRow> kClasses = {
      {&View<CDODepartment>, "CDODepartment", &server::kDepartmentEntity, nullptr},
      {&View<CDOUser>, "CDOUser", &server::kUserEntity, nullptr},
      {&View<CDOComputer>, "CDOComputer", &server::kComputerEntity, nullptr},
      {&View<CDOPosition>, "CDOPosition", &server::kPositionEntity, nullptr},
      {&View<CDOSecretLevel>, "CDOSecretLevel", &server::kSecretLevelEntity, nullptr},
      {&View<CDOApplication>, "CDOApplication", &server::kApplicationEntity, nullptr},
      {&View<CDOIpSegment>, "CDOIpSegment", &server::kIpSegmentEntity, nullptr},
      {&View<CDODeptDefAppSecretLevel>, "CDODeptDefAppSecretLevel", &server::kDefaultLevelEntity,
       nullptr},
      {&View<CDODrmLog>, "CDODrmLog", &server::kLogEntity, nullptr},
      {&View<CDOScanDrmLog>, "CDOScanDrmLog", &server::kScanLogEntity, nullptr},
      // Exchanged with the agent, never with the server.
      {&View<CDOAgentFile>, "CDOAgentFile", nullptr, "an agent's file"},
      {&View<CDOAgentFolder>, "CDOAgentFolder", nullptr, "an agent's folder"},
      {&View<CDOWaterMark>, "CDOWaterMark", nullptr, "declares no attributes"},
      // Answered by operations that write their elements themselves (joins of several tables).
      {&View<CDOPolicy>, "CDOPolicy", nullptr, "written by QueryPolicy"},
      {&View<CDOAuthLevelByPosition>, "CDOAuthLevelByPosition", nullptr, "written by QueryPolicy"},
      {&View<CDOAuthLevelByUser>, "CDOAuthLevelByUser", nullptr, "written by QueryPolicy"},
      {&View<CDOAuthFileByPosition>, "CDOAuthFileByPosition", nullptr,
       "written by QueryFileAuthorization"},
      {&View<CDOAuthFileByUser>, "CDOAuthFileByUser", nullptr, "written by QueryFileAuthorization"},
      {&View<CDOFile>, "CDOFile", nullptr, "written by QueryFileAuthorization"},
      {&View<CDOUserAppointment>, "CDOUserAppointment", nullptr,
       "written by the appointment operations"},
      {&View<CDOScanLogApp>, "CDOScanLogApp", nullptr, "written by QueryScanLogApp"},
      {&View<CDOScanLogFile>, "CDOScanLogFile", nullptr, "written by QueryScanLogFile"},
      {&View<CDOAutoScanAppType>, "CDOAutoScanAppType", nullptr,
       "written by GetScanFileTypeAtConsole"},
      {&View<CDOScanFileExtend>, "CDOScanFileExtend", nullptr,
       "written by GetScanFileTypeAtConsole"},
      {&View<CDOperation>, "CDOperation", nullptr, "written by QueryOperations"},
      {&View<CNameOfOper>, "CNameOfOper", nullptr, "written by QueryOperations"},
  };
  return kClasses;
}

// Attributes that exist on one side only, by design. Keep this short: every other name must be
// declared by both.
struct OneSided {
  const char* object_name;
  const char* attribute;
  bool on_server;  // true: the server's table only; false: the library's class only
};
constexpr OneSided kOneSided[] = {
    // The server answers the department of each segment; the library loads segments under their
    // department's element and takes the department from there.
    {"IpSegment", "departmentId", true},
};

// Classes whose attributes the library declares as text while the server types them: log records
// hold what an agent wrote, shown and uploaded as text, and the server checks their times and
// ids so that searches can bound and order by them. Only text against a typed field is allowed.
constexpr const char* kTypedOnServer[] = {"Log", "ScanLog"};

bool IsOneSided(const std::string& object_name, const std::string& attribute, bool on_server) {
  return std::any_of(std::begin(kOneSided), std::end(kOneSided), [&](const OneSided& entry) {
    return object_name == entry.object_name && attribute == entry.attribute &&
           on_server == entry.on_server;
  });
}

const char* TypeName(FieldType type) {
  switch (type) {
    case FieldType::kText: return "text";
    case FieldType::kInt: return "integer";
    case FieldType::kBool: return "boolean";
    default: return "date";
  }
}

// The server's field type a library variant type stands for.
FieldType WireType(uint16_t variant_type) {
  switch (variant_type) {
    case kVtI2:
    case kVtI4:
    case kVtInt: return FieldType::kInt;
    case kVtBool: return FieldType::kBool;
    case kVtDate: return FieldType::kDate;
    default: return FieldType::kText;
  }
}

TEST(Contract, EachClassMatchesItsServerEntity) {
  for (const ClassRow& row : Classes()) {
    const ClassView view = row.view();
    if (row.entity == nullptr) {
      for (const Entity* entity : server::AllEntities()) {
        EXPECT_NE(view.tag, entity->tag)
            << "class " << view.object_name << " is listed without a server table, but the "
            << entity->object_name << " table answers its tag";
      }
      continue;
    }
    const Entity& entity = *row.entity;
    EXPECT_EQ(view.object_name, entity.object_name)
        << "object name of the " << entity.table << " table";
    EXPECT_EQ(view.tag, entity.tag) << "XML tag of class " << view.object_name;
    const bool typed_on_server = std::find(std::begin(kTypedOnServer), std::end(kTypedOnServer),
                                           view.object_name) != std::end(kTypedOnServer);
    for (const auto& [name, variant_type] : view.attributes) {
      const Field* field = entity.FindField(name);
      if (field == nullptr) {
        EXPECT_TRUE(IsOneSided(view.object_name, name, false))
            << "class " << view.object_name << " declares \"" << name << "\", which the server's "
            << entity.object_name << " table lacks";
        continue;
      }
      const FieldType library = WireType(variant_type);
      if (library == field->type) continue;
      EXPECT_TRUE(typed_on_server && library == FieldType::kText)
          << view.object_name << "." << name << " is " << TypeName(library)
          << " in the library but " << TypeName(field->type) << " on the server";
    }
    for (const Field& field : entity.fields) {
      const std::string name(field.xml);
      if (view.attributes.count(name) == 0) {
        EXPECT_TRUE(IsOneSided(view.object_name, name, true))
            << "the server's " << entity.object_name << " table declares \"" << name
            << "\", which class " << view.object_name << " lacks";
      }
    }
  }
}

TEST(Contract, EveryClassTheLibraryDefinesIsCompared) {
  std::set<std::string> listed;
  for (const ClassRow& row : Classes()) listed.insert(row.class_name);
  // A definition starts its line; the macros' own bodies indent theirs.
  const std::regex definition("\\nDOCSEC_DEFINE_DATA_OBJECT(?:_NO_INSTANCE|_PARTS)?\\((\\w+),");
  std::set<std::string> defined;
  for (const Spelling& found : Find(LibrarySources(), definition)) defined.insert(found.name);
  EXPECT_EQ(defined, listed) << "a data-object class is missing from this test's table";
}

TEST(Contract, EachServerEntityHasOneClassAndEachAllowanceIsUsed) {
  for (const Entity* entity : server::AllEntities()) {
    EXPECT_EQ(std::count_if(Classes().begin(), Classes().end(),
                            [&](const ClassRow& row) { return row.entity == entity; }),
              1)
        << "the server's " << entity->object_name << " table needs exactly one library class";
  }
  // An allowance left behind after its attribute went would excuse the next one of that name.
  for (const OneSided& entry : kOneSided) {
    bool found = false;
    for (const ClassRow& row : Classes()) {
      if (row.entity == nullptr || row.entity->object_name != std::string(entry.object_name)) {
        continue;
      }
      found = entry.on_server ? row.entity->FindField(entry.attribute) != nullptr
                              : row.view().attributes.count(entry.attribute) == 1;
    }
    EXPECT_TRUE(found) << "stale allowance " << entry.object_name << "." << entry.attribute;
  }
}

// ---- names read from the sources ----

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The sources of a client of the server under `folder`, without tests and test fixtures.
std::vector<std::filesystem::path> ClientSources(const std::string& folder) {
  std::vector<std::filesystem::path> files;
  const std::filesystem::path root = std::filesystem::path(DOCSEC_SOURCE_DIR) / folder;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    const std::string where = entry.path().string();
    if (!entry.is_regular_file() || name.find("_test") != std::string::npos ||
        where.find("/testing/") != std::string::npos) {
      continue;
    }
    const std::string ext = entry.path().extension().string();
    if (ext == ".cc" || ext == ".h") files.push_back(entry.path());
  }
  return files;
}

// Every match of `pattern`'s first group in `files`.
std::vector<Spelling> Find(const std::vector<std::filesystem::path>& files,
                           const std::regex& pattern) {
  std::vector<Spelling> found;
  for (const auto& path : files) {
    const std::string text = ReadFile(path);
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
      found.push_back({(*it)[1].str(), path.filename().string()});
    }
  }
  return found;
}

const std::vector<std::filesystem::path>& LibrarySources() {
  static const auto kFiles = ClientSources("docsec");
  return kFiles;
}

// A name the server or the agent could answer: capitalised, two words or more ("QueryUser").
const std::regex kNameLiteral("\"([A-Z][a-z]+[A-Z][A-Za-z0-9]*)\"");
// The calls that send a complete operation name to the server.
const std::regex kServerCall(
    "\\b(?:Exchange|SendWith|SendCommand|SendAuthorizations|BuildRequestDocument|Update|"
    "UpdateSubObjects|LookupSubObjects)\\(\\s*\"(\\w+)\"\\s*[,)]");
// The calls that send a command to an agent.
const std::regex kAgentCall("\\b(?:BuildAgentCommand|ProcessFiles)\\(\\s*\"(\\w+)\"");
// Generic verbs: composed with a class's object name.
const std::regex kComposedVerb("\"(\\w+)\"\\s*\\+\\s*(?:\\w+->)?GetObjectName\\(\\)");
const std::regex kBatchVerb("\\bSendBatch\\(\\s*\"(\\w+)\"");

std::set<std::string> ServerOperations() {
  std::set<std::string> names;
  for (std::string_view name : server::OperationNames()) names.emplace(name);
  return names;
}

std::set<std::string> AgentServices() {
  const std::vector<std::string> names = agent::ServiceNames();
  return {names.begin(), names.end()};
}

std::set<std::string> ObjectNames() {
  std::set<std::string> names;
  for (const ClassRow& row : Classes()) names.insert(row.view().object_name);
  return names;
}

// The library's own calls, as its headers declare them: a failure found before any request is
// sent names the call that failed in its outcome, so these names are spelt for the caller.
std::set<std::string> LibraryCalls() {
  static const std::regex kDeclared("\\b([A-Z][a-z]+[A-Z][A-Za-z0-9]*)\\(");
  std::vector<std::filesystem::path> headers;
  for (const auto& path : LibrarySources()) {
    if (path.extension() == ".h") headers.push_back(path);
  }
  std::set<std::string> names;
  for (const Spelling& found : Find(headers, kDeclared)) names.insert(found.name);
  return names;
}

TEST(Contract, EachOperationTheLibrarySendsIsInTheServerCatalogue) {
  const std::set<std::string> operations = ServerOperations();
  const std::set<std::string> calls = LibraryCalls();
  const std::set<std::string> services = AgentServices();
  const std::set<std::string> object_names = ObjectNames();
  // Names the library spells for other purposes than the wire.
  const std::set<std::string> not_sent = {"IcmpCreateFile", "IcmpSendEcho",
                                          "IcmpCloseHandle"};  // looked up in the ICMP library

  std::vector<std::filesystem::path> clients = LibrarySources();
  const auto console = ClientSources("tools/cli");
  clients.insert(clients.end(), console.begin(), console.end());
  for (const Spelling& call : Find(clients, kServerCall)) {
    EXPECT_EQ(operations.count(call.name), 1u)
        << call.file << " sends \"" << call.name << "\", which the server does not answer";
  }
  // Names chosen before the call (a condition picks one of two) are caught by their shape.
  for (const Spelling& literal : Find(LibrarySources(), kNameLiteral)) {
    EXPECT_TRUE(operations.count(literal.name) || services.count(literal.name) ||
                object_names.count(literal.name) || not_sent.count(literal.name) ||
                calls.count(literal.name))
        << literal.file << " spells \"" << literal.name
        << "\": no server operation, agent command, class or call of the library has that name";
  }
}

TEST(Contract, EachServerOperationIsSentByTheLibraryOrTheConsole) {
  std::set<std::string> literals;
  const std::regex any_literal("\"(\\w+)\"");
  std::vector<std::filesystem::path> clients = LibrarySources();
  const auto console = ClientSources("tools/cli");
  clients.insert(clients.end(), console.begin(), console.end());
  for (const Spelling& literal : Find(clients, any_literal)) literals.insert(literal.name);
  std::set<std::string> verbs;
  for (const Spelling& verb : Find(LibrarySources(), kComposedVerb)) verbs.insert(verb.name);
  for (const Spelling& verb : Find(LibrarySources(), kBatchVerb)) verbs.insert(verb.name);
  ASSERT_EQ(verbs, (std::set<std::string>{"Add", "Del", "Query", "Update"}));

  std::set<std::string> composed;
  for (const std::string& object_name : ObjectNames()) {
    for (const std::string& verb : verbs) composed.insert(verb + object_name);
  }
  for (const std::string& operation : ServerOperations()) {
    EXPECT_TRUE(literals.count(operation) || composed.count(operation))
        << "the server answers \"" << operation
        << "\", which neither the library nor the console sends";
  }
  // Every class the server keeps can be looked up and refreshed (the generic look-up).
  for (const Entity* entity : server::AllEntities()) {
    EXPECT_EQ(ServerOperations().count(std::string("Query") + entity->object_name), 1u)
        << "the server keeps " << entity->object_name << " but does not answer its look-up";
  }
}

TEST(Contract, AgentCommandsMatchTheAgentDispatcher) {
  const std::set<std::string> services = AgentServices();
  std::set<std::string> sent;
  for (const Spelling& call : Find(LibrarySources(), kAgentCall)) {
    EXPECT_EQ(services.count(call.name), 1u)
        << call.file << " sends the agent \"" << call.name << "\", which it does not answer";
    sent.insert(call.name);
  }
  for (const std::string& service : services) {
    EXPECT_EQ(sent.count(service), 1u)
        << "the agent answers \"" << service << "\", which the library never sends";
  }
}

// ---- result codes ----

TEST(Contract, ResultCodesAreOneListDocumentedAsIs) {
  std::set<int> codes;
  for (const server::ResultCodeEntry& entry : server::kResultCodes) {
    EXPECT_TRUE(codes.insert(entry.code).second) << entry.name << " repeats " << entry.code;
    EXPECT_NE(std::string(entry.meaning), "") << entry.name;
    EXPECT_STREQ(server::ResultMeaning(entry.code), entry.meaning);
  }
  EXPECT_EQ(server::ResultMeaning(9999), nullptr);  // the library's "no value"

  // The README's table rows read "| 301 | not found | ... |".
  std::set<int> documented;
  const std::string readme =
      ReadFile(std::filesystem::path(DOCSEC_SOURCE_DIR) / "tools/server/README.md");
  const std::regex row("\\n\\| (\\d+) \\|");
  for (std::sregex_iterator it(readme.begin(), readme.end(), row), end; it != end; ++it) {
    documented.insert(std::stoi((*it)[1].str()));
  }
  EXPECT_EQ(documented, codes) << "tools/server/README.md documents other codes than the header";
}

}  // namespace
}  // namespace docsec
