// The docsec program run as a child process against a demo database (opened by each run with
// --embedded) and reference agents in this process on loopback addresses, one of them stopped.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "docsec/platform/host.h"
#include "tools/cli/cli.h"
#include "tools/cli/exchange_log.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/output.h"
#include "tools/cli/settings.h"
#include "docsec/testing/free_loopback.h"
#include "docsec/testing/test_certificates.h"
#include "tools/agent/reference_agent.h"
#include "tools/server/demo_data.h"
#include "tools/server/http_server.h"
#include "tools/server/result_codes.h"
#include "tools/server/server.h"

namespace docsec::cli {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class CliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ =
        new fs::path(fs::temp_directory_path() / ("docsec-cli-test-" + std::to_string(getpid())));
    fs::create_directories(*dir_ / "run");
    fs::permissions(*dir_ / "run", fs::perms::owner_all);
    for (int i = 0; i < 2; ++i) {
      const fs::path share = *dir_ / ("share" + std::to_string(i));
      fs::create_directories(share / "docs" / "sub");
      std::ofstream(share / "docs" / "a.txt") << "alpha plain text\n";
      std::ofstream(share / "docs" / "b.txt") << "bravo plain text\n";
      std::ofstream(share / "docs" / "sub" / "c.txt") << "charlie\n";
      agent::ReferenceAgentOptions options;
      options.drives = {{"C:", share.string()}};
      options.uuid = "7a1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5" + std::to_string(i);
      options.state_dir = (*dir_ / ("state" + std::to_string(i))).string();
      // A file named vanish.txt disappears as the agent reaches it, so that one item fails; a
      // test may watch the items too.
      options.before_item = [share](const std::string& name) {
        if (name.find("vanish") != std::string::npos) fs::remove(share / "docs" / "vanish.txt");
        std::lock_guard<std::mutex> lock(item_hook_mutex_);
        if (item_hook_) item_hook_(name);
      };
      agents_[i] = new agent::ReferenceAgent(options);
      const uint32_t address = testing::StartOnFreeLoopback([i](uint32_t a) {
        auto& o = const_cast<agent::ReferenceAgentOptions&>(agents_[i]->options());
        o.listen_address = FormatIpv4(a);
        std::string error;
        return agents_[i]->Start(&error);
      });
      ASSERT_NE(address, 0u);
      computers_.push_back({options.uuid, FormatIpv4(address), "pc-" + std::to_string(i)});
    }
    // A third computer where no agent listens.
    computers_.push_back({"7a1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e59",
                          FormatIpv4(testing::ProbeFreeLoopback()), "pc-gone"});
    server::ServerOptions options;
    options.database = (*dir_ / "demo.sqlite").string();
    std::string error;
    auto server = server::Server::Open(options, &error);
    ASSERT_TRUE(server) << error;
    server::DemoOptions demo;
    demo.computers = computers_;
    demo.log_count = 40;
    ASSERT_TRUE(server::SeedDemo(*server, demo, nullptr, &error)) << error;
    server.reset();
    Outcome login =
        Docsec({"--embedded", Db(), "login", "admin", "--password-stdin"}, "demo-admin\n");
    ASSERT_EQ(login.code, 0) << login.err;
  }

  static void TearDownTestSuite() {
    for (auto*& agent : agents_) {
      delete agent;
      agent = nullptr;
    }
    fs::remove_all(*dir_);
    delete dir_;
    computers_.clear();
  }

  static std::string Db() { return (*dir_ / "demo.sqlite").string(); }
  // The suite's database served over HTTP on loopback, with a session folder of its own.
  struct NetworkServer {
    std::unique_ptr<server::Server> server;
    std::unique_ptr<server::HttpServer> http;
    std::string url;
    fs::path runtime;
  };
  static void ServeOverHttp(const std::string& runtime_name, NetworkServer* network,
                            const server::HttpOptions& http = server::HttpOptions()) {
    server::ServerOptions options;
    options.database = Db();
    std::string error;
    network->server = server::Server::Open(options, &error);
    ASSERT_TRUE(network->server) << error;
    network->http = std::make_unique<server::HttpServer>(*network->server, http);
    ASSERT_TRUE(network->http->Start(&error)) << error;
    network->url = std::string(http.tls_cert.empty() ? "http" : "https") +
                   "://127.0.0.1:" + std::to_string(network->http->port());
    network->runtime = *dir_ / runtime_name;
    fs::create_directories(network->runtime);
  }
  // Runs `statements` on the database directly, as an older server or another tool would have.
  static void Execute(const std::vector<std::string>& statements) {
    server::ServerOptions options;
    options.database = Db();
    std::string error;
    auto server = server::Server::Open(options, &error);
    ASSERT_TRUE(server) << error;
    server->storage().Run(server::Storage::Access::kWrite,
                          server::Storage::Clock::time_point::max(), [&](server::Transaction& tx) {
                            for (const std::string& statement : statements) tx.Execute(statement);
                          });
  }
  static fs::path Share(int i) { return *dir_ / ("share" + std::to_string(i)); }

  // Runs docsec with `args`, `input` on stdin, the session in `runtime` (the suite's by default)
  // and `environment` ("NAME=value ...", quoted) before the program. The configuration file is
  // the suite's own, absent unless a test writes it.
  static Outcome Docsec(const std::vector<std::string>& args, const std::string& input = "",
                        const std::string& runtime = "", const std::string& environment = "") {
    const fs::path in = *dir_ / "stdin", out = *dir_ / "stdout", err = *dir_ / "stderr";
    std::ofstream(in) << input;
    std::string command =
        "XDG_RUNTIME_DIR=" + Quote(runtime.empty() ? (*dir_ / "run").string() : runtime) +
        " XDG_STATE_HOME=" + Quote((*dir_ / "state").string()) +
        " XDG_CONFIG_HOME=" + Quote((*dir_ / "config").string()) + " NO_COLOR=1 " + environment +
        " " + Quote(DOCSEC_CLI_PATH);
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " <" + Quote(in.string()) + " >" + Quote(out.string()) + " 2>" + Quote(err.string());
    const int status = std::system(command.c_str());
    Outcome run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    return run;
  }

  static json Json(const std::vector<std::string>& args) {
    std::vector<std::string> with_json = args;
    with_json.insert(with_json.begin(), "--json");
    Outcome run = Docsec(with_json);
    EXPECT_EQ(run.code, 0) << run.err;
    return json::parse(run.out, nullptr, false);
  }

  // Runs docsec on a terminal that script(1) gives it, `typed` typed at it; out holds what the
  // terminal showed (stdout and stderr).
  static Outcome OnTerminal(const std::vector<std::string>& args, const std::string& typed) {
    std::string inner = "XDG_RUNTIME_DIR=" + Quote((*dir_ / "run").string()) +
                        " XDG_STATE_HOME=" + Quote((*dir_ / "state").string()) + " NO_COLOR=1 " +
                        Quote(DOCSEC_CLI_PATH);
    for (const std::string& arg : args) inner += " " + Quote(arg);
    const fs::path in = *dir_ / "typed", out = *dir_ / "terminal";
    std::ofstream(in) << typed;
    const std::string command = "script -qec " + Quote(inner) + " /dev/null <" +
                                Quote(in.string()) + " >" + Quote(out.string()) + " 2>&1";
    const int status = std::system(command.c_str());
    Outcome run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(out);
    return run;
  }

  static fs::path* dir_;
  static std::mutex item_hook_mutex_;
  static std::function<void(const std::string&)> item_hook_;
  static agent::ReferenceAgent* agents_[2];
  static std::vector<server::DemoComputer> computers_;
};

fs::path* CliTest::dir_ = nullptr;
std::mutex CliTest::item_hook_mutex_;
std::function<void(const std::string&)> CliTest::item_hook_;
agent::ReferenceAgent* CliTest::agents_[2] = {nullptr, nullptr};
std::vector<server::DemoComputer> CliTest::computers_;

TEST_F(CliTest, ExitStatusesAndOneLineErrors) {
  const struct {
    std::vector<std::string> args;
    std::string input;
    int code;
    std::string error;  // in stderr
  } kCases[] = {
      {{"tree", "--depth", "deep"}, "", 2, "--depth"},
      {{"frobnicate"}, "", 2, "docsec: "},
      {{"user", "move", "nobody", "Sales"}, "", 2, "no user \"nobody\""},
      {{"--embedded", Db(), "login", "admin", "--password-stdin"}, "wrong\n", 1, "code 202"},
      {{"--embedded", Db(), "login", "erin", "--password-stdin"}, "demo-erin\n", 1, "code 203"},
      // The meaning beside the code comes from the server's own list.
      {{"sysop", "sync-directory"},
       "",
       1,
       std::string("code 207 (") + server::ResultMeaning(server::kDirectoryNotConfigured) + ")"},
      {{"ls", "pc-gone", "C:"}, "", 3, "pc-gone"},
      {{"--server", "http://127.0.0.1:9", "login", "admin", "--password-stdin"},
       "x\n",
       3,
       "connection refused"},
      // The server's own words reach the console: which value, which department.
      {{"ipseg", "add", "South", "127.0.0.40", "127.0.0.30"},
       "",
       1,
       "code 105 (a value is not valid): the range 127.0.0.40 - 127.0.0.30 is reversed: ipFrom "
       "127.0.0.40 is above ipTo 127.0.0.30"},
      // passwd says which of its two lines stdin lacked.
      {{"passwd", "--password-stdin"},
       "demo-admin\n",
       2,
       "no line 2 on stdin for the new password"},
      {{"--server", "http://127.0.0.1:9", "--ca-file", "/nonexistent/ca.pem", "tree"},
       "",
       2,
       "cannot read the CA file /nonexistent/ca.pem"},
      {{"dept", "remove", "Engineering", "--yes"}, "", 1, "(/Demo Corp/Engineering) is not empty"},
  };
  for (const auto& c : kCases) {
    Outcome run = Docsec(c.args, c.input);
    EXPECT_EQ(run.code, c.code) << c.args[0] << ": " << run.err;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

// -v lists a command's exchanges on stderr and --trace adds their texts, the password masked; the
// exit status stays the command's own.
TEST_F(CliTest, VerboseListsExchangesAndTraceHidesThePassword) {
  Outcome tree = Docsec({"-v", "tree"});
  EXPECT_EQ(tree.code, 0) << tree.err;
  std::istringstream lines(tree.err);
  int exchanges = 0;
  for (std::string line; std::getline(lines, line); ++exchanges) {
    EXPECT_EQ(line.rfind("exchange ", 0), 0u) << line;
    EXPECT_NE(line.find(" ms, code 0"), std::string::npos) << line;
  }
  EXPECT_GE(exchanges, 2);  // the session's user, then its tree
  EXPECT_NE(tree.err.find("exchange GetDepartmentTreeView (entry point 1): "), std::string::npos)
      << tree.err;

  Outcome refused = Docsec({"--verbose", "dept", "remove", "Engineering", "--yes"});
  EXPECT_EQ(refused.code, 1) << refused.err;
  EXPECT_NE(refused.err.find("exchange DelDepartment (entry point 1): "), std::string::npos);
  EXPECT_NE(refused.err.find(" ms, code 303\n"), std::string::npos) << refused.err;

  Outcome traced =
      Docsec({"--trace", "--embedded", Db(), "login", "admin", "--password-stdin"}, "demo-admin\n");
  EXPECT_EQ(traced.code, 0) << traced.err;
  EXPECT_NE(traced.err.find("exchange Login (entry point 1)"), std::string::npos) << traced.err;
  EXPECT_NE(traced.err.find("password=\"***\""), std::string::npos) << traced.err;
  EXPECT_NE(traced.err.find("answer: "), std::string::npos) << traced.err;
  EXPECT_EQ(traced.err.find("demo-admin"), std::string::npos) << traced.err;
}

TEST(MaskSecrets, HidesPasswordsKeysAndRandomValuesOnly) {
  const struct {
    const char* text;
    const char* masked;
  } kCases[] = {
      {"<user id=\"bob\" password=\"s3\" newPassword='n>w'/>",
       "<user id=\"bob\" password=\"***\" newPassword='***'/>"},
      {"<parameter pwd = \"u\"/><config enterpriseKey=\"00AB\" departmentId=\"3\"/>",
       "<parameter pwd = \"***\"/><config enterpriseKey=\"***\" departmentId=\"3\"/>"},
      {"<random data=\"0123456789abcdef0123456789abcdef\"/>text password=\"kept\"",
       "<random data=\"***\"/>text password=\"kept\""},
      {"<?xml version=\"1.0\"?><policy secretLevelId=\"2\" password=\"\"/>",
       "<?xml version=\"1.0\"?><policy secretLevelId=\"2\" password=\"\"/>"},
      {"<user signedData=\"abc\" encodingCert=\"def\" signResult=\"1\" name=\"a=b\"/>",
       "<user signedData=\"***\" encodingCert=\"***\" signResult=\"***\" name=\"a=b\"/>"},
  };
  for (const auto& c : kCases) EXPECT_EQ(MaskSecrets(c.text), c.masked) << c.text;
}

TEST_F(CliTest, JsonListingsCarryTheirDocumentedFields) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> fields;
  } kCases[] = {
      {{"tree"}, {"id", "name", "path", "depth", "users", "computers", "positions"}},
      {{"users"}, {"id", "name", "department", "consoleManager", "supervisor", "locked"}},
      {{"users", "--server-side", "--name", "a"}, {"id", "name", "department"}},
      {{"positions", "Sales"}, {"id", "name", "department"}},
      {{"computers"}, {"name", "ip", "uuid", "department", "approved", "version"}},
      {{"computers", "--server-side"}, {"name", "ip", "uuid"}},
      {{"levels"}, {"id", "name", "description"}},
      {{"apps"}, {"name", "description"}},
      {{"ls", "pc-0", "C:/docs"}, {"type", "name", "size", "encrypted", "level", "modified"}},
      {{"find", "pc-0", "C:", "--name", "*.txt", "--subfolders"}, {"path", "size", "encrypted"}},
      {{"policy", "show", "Engineering"}, {"level", "kind", "who", "permission"}},
      {{"default-levels", "show", "Engineering"}, {"application", "level", "onlyDecrypt"}},
  };
  for (const auto& c : kCases) {
    const json rows = Json(c.args);
    ASSERT_TRUE(rows.is_array()) << c.args[0];
    ASSERT_FALSE(rows.empty()) << c.args[0];
    for (const std::string& field : c.fields) {
      EXPECT_TRUE(rows[0].contains(field)) << c.args[0] << " lacks " << field;
    }
  }
  const json logs = Json({"logs", "--per-page", "5", "--page", "2"});
  EXPECT_EQ(logs["page"], 2);
  EXPECT_EQ(logs["items"].size(), 5u);
  EXPECT_TRUE(logs["items"][0]["operation"]["name"].is_string());
  EXPECT_GE(logs["total"].get<int>(), 40);
  const json all = Json({"logs", "--all", "--per-page", "7"});
  EXPECT_EQ(all["items"].size(), all["total"].get<size_t>());
  const json settings = Json({"scan-settings", "show"});
  EXPECT_TRUE(settings["extensions"].is_array());
}

TEST_F(CliTest, TreeCountsAndLocalSearches) {
  const json tree = Json({"tree", "Engineering", "--depth", "1"});
  ASSERT_FALSE(tree.empty());
  EXPECT_EQ(tree[0]["path"], "/Demo Corp/Engineering");
  for (const json& row : tree) EXPECT_LE(row["depth"].get<int>(), 1);
  const json locked = Json({"users", "--console-manager", "yes", "Engineering"});
  for (const json& user : locked) EXPECT_TRUE(user["consoleManager"].get<bool>());
  const json here = Json({"users", "Engineering", "--no-recursive"});
  for (const json& user : here) EXPECT_EQ(user["department"], "/Demo Corp/Engineering");
  const json unapproved = Json({"computers", "--approved", "no"});
  for (const json& computer : unapproved) EXPECT_FALSE(computer["approved"].get<bool>());
}

TEST_F(CliTest, OrganisationChangesReachTheServer) {
  const struct {
    std::vector<std::string> args;
    std::string out;  // in stdout
  } kSteps[] = {
      {{"dept", "add", "Sales", "Legal"}, "added /Demo Corp/Sales/Legal"},
      {{"dept", "move", "Legal", "Engineering"}, "/Demo Corp/Engineering/Legal"},
      {{"user", "add", "Legal", "zed", "--name", "Zed Zu"}, "added user zed"},
      {{"user", "lock", "zed"}, "locked zed"},
      {{"user", "lock", "zed", "--unlock"}, "unlocked zed"},
      {{"user", "move", "zed", "Sales"}, "moved zed"},
      {{"appoint", "zed", "Sales:Sales Director"}, "appointed zed"},
      {{"revoke", "zed", "Sales:Sales Director", "--via", "position"}, "revoked zed"},
      {{"appoint", "zed", "Sales:Sales Director", "--via", "position"}, "appointed zed"},
      {{"revoke", "zed", "Sales:Sales Director"}, "revoked zed"},
      {{"user", "remove", "zed", "--yes"}, "removed user zed"},
      {{"dept", "remove", "Legal", "--yes"}, "removed /Demo Corp/Engineering/Legal"},
      {{"computer", "disapprove", "pc-1", "--yes"}, "disapproved 1"},
      {{"computer", "approve", "pc-1"}, "approved 1"},
      {{"computer", "move", "pc-1", "North"}, "/Demo Corp/Sales/North"},
      {{"ipseg", "add", "South", "10.1.0.1", "10.1.0.9"}, "add done"},
      {{"ipseg", "update", "South", "10.1.0.1", "10.1.0.9", "10.1.0.1", "10.1.0.20"}, "update"},
      {{"ipseg", "list", "South"}, "10.1.0.20"},
      {{"ipseg", "remove", "South", "10.1.0.1", "10.1.0.20"}, "remove done"},
      {{"ipseg", "clear", "South", "-y"}, "clear done"},
      {{"scan-settings", "set", "pdf=2"}, "Secret"},
      {{"sysop", "auto-update"}, "auto-update: done"},
      {{"sysop", "uninstall-password", "--password-stdin"}, "done"},
      {{"outbox", "status"}, "waiting"},
      {{"outbox", "flush"}, "0 operation log record(s) waiting"},
  };
  for (const auto& step : kSteps) {
    Outcome run = Docsec(step.args, "uninstall-secret\n");
    EXPECT_EQ(run.code, 0) << step.args[0] << " " << step.args[1] << ": " << run.err;
    EXPECT_NE(run.out.find(step.out), std::string::npos) << run.out;
  }
  EXPECT_EQ(Json({"computers", "--name", "pc-1"})[0]["department"], "/Demo Corp/Sales/North");
  EXPECT_EQ(Json({"users", "--id", "zed"}).size(), 0u);
  const json extensions = Json({"scan-settings", "show"})["extensions"];
  EXPECT_NE(extensions.dump().find("\"pdf\""), std::string::npos);
}

TEST_F(CliTest, AuthorizationsRoundTripThroughJson) {
  ASSERT_EQ(Docsec({"policy", "grant", "Engineering", "--level", "2", "--account", "bob",
                    "--permission", "7"})
                .code,
            0);
  Outcome shown = Docsec({"--json", "policy", "show", "Engineering"});
  ASSERT_NE(shown.out.find("\"permission\": 7"), std::string::npos) << shown.out;
  std::ofstream(*dir_ / "policy.json") << shown.out;
  ASSERT_EQ(Docsec({"policy", "refuse", "Engineering", "--level", "2", "--account", "bob"}).code,
            0);
  for (const json& row : Json({"policy", "show", "Engineering"})) {
    EXPECT_FALSE(row["level"]["id"] == 2 && row["who"] == "bob") << row;
  }
  ASSERT_EQ(
      Docsec({"policy", "apply", "Engineering", (*dir_ / "policy.json").string(), "--yes"}).code,
      0);
  EXPECT_EQ(Json({"policy", "show", "Engineering"}), json::parse(shown.out));

  ASSERT_EQ(Docsec({"default-levels", "grant", "Sales", "--app", "excel.exe", "--level", "2"}).code,
            0);
  const json defaults = Json({"default-levels", "show", "Sales"});
  std::ofstream(*dir_ / "defaults.json") << defaults.dump();
  ASSERT_EQ(Docsec({"default-levels", "refuse", "Sales", "--app", "excel.exe"}).code, 0);
  EXPECT_EQ(Json({"default-levels", "show", "Sales"}).dump().find("excel"), std::string::npos);
  ASSERT_EQ(Docsec({"default-levels", "apply", "Sales", (*dir_ / "defaults.json").string()}).code,
            0);
  EXPECT_EQ(Json({"default-levels", "show", "Sales"}), defaults);
}

TEST_F(CliTest, FilesAreChangedOnDiskWithAReportPerFile) {
  const fs::path a = Share(0) / "docs" / "a.txt";
  const std::string plain = ReadFile(a);
  const std::string login = "demo-admin\n";  // file changes ask for a fresh login
  Outcome encrypt =
      Docsec({"encrypt", "pc-0", "C:/docs", "--recursive", "--password-stdin"}, login);
  ASSERT_EQ(encrypt.code, 0) << encrypt.err;
  EXPECT_NE(encrypt.out.find("3 done, 0 failed"), std::string::npos) << encrypt.out;
  EXPECT_EQ(ReadFile(a).find("alpha"), std::string::npos);

  Outcome relabel = Docsec(
      {"--json", "relabel", "pc-0", "C:/docs/a.txt", "--level", "Secret", "--password-stdin"},
      login);
  ASSERT_EQ(relabel.code, 0) << relabel.err;
  EXPECT_EQ(json::parse(relabel.out)["done"], 1);
  EXPECT_NE(Json({"ls", "pc-0", "C:/docs"}).dump().find("\"level\":{\"id\":2,\"name\":\"Secret\"}"),
            std::string::npos);

  ASSERT_EQ(Docsec({"file-auth", "grant", "pc-0", "C:/docs/a.txt", "--account", "carol",
                    "--permission", "1"})
                .code,
            0);
  const json auths = Json({"file-auth", "show", "pc-0", "C:/docs/a.txt"});
  ASSERT_EQ(auths.size(), 1u);
  EXPECT_EQ(auths[0]["who"], "carol");
  ASSERT_EQ(Docsec({"file-auth", "refuse", "pc-0", "C:/docs/a.txt", "--account", "carol"}).code, 0);
  EXPECT_TRUE(Json({"file-auth", "show", "pc-0", "C:/docs/a.txt"}).empty());
  std::ofstream(*dir_ / "auths.json") << auths.dump();
  ASSERT_EQ(
      Docsec({"file-auth", "apply", "pc-0", "C:/docs/a.txt", (*dir_ / "auths.json").string()}).code,
      0);
  EXPECT_EQ(Json({"file-auth", "show", "pc-0", "C:/docs/a.txt"}), auths);

  Outcome decrypt =
      Docsec({"decrypt", "pc-0", "C:/docs/a.txt", "C:/docs/b.txt", "--password-stdin"}, login);
  ASSERT_EQ(decrypt.code, 0) << decrypt.err;
  EXPECT_EQ(ReadFile(a), plain);
  const json logs = Json({"logs", "--computer", "pc-0", "--per-page", "100"});
  EXPECT_GE(logs["total"].get<int>(), 6);  // three encrypted, one relabelled, two decrypted
}

TEST_F(CliTest, PartialFailureExitsFourAndNamesTheFailedFile) {
  std::ofstream(Share(1) / "docs" / "vanish.txt") << "gone soon\n";
  Outcome run = Docsec(
      {"--json", "encrypt", "pc-1", "C:/docs/vanish.txt", "C:/docs/b.txt", "--password-stdin"},
      "demo-admin\n");
  EXPECT_EQ(run.code, 4) << run.err;
  const json report = json::parse(run.out);
  EXPECT_EQ(report["done"], 1);
  EXPECT_EQ(report["failed"], 1);
  EXPECT_NE(report["items"].dump().find("vanish.txt\",\"reason\""), std::string::npos);
  EXPECT_NE(run.err.find("1 of 2 files failed"), std::string::npos) << run.err;
}

// The outbox unusable and the server gone by the time the entry is written: the file is
// changed, so the console says "changed, not recorded", exits 4 with the reason, and writes the
// entry whole to stderr so that an operator can keep it.
TEST_F(CliTest, ChangeWithoutOutboxOrServerExitsFourAndPrintsTheEntry) {
  NetworkServer network;
  ASSERT_NO_FATAL_FAILURE(ServeOverHttp("unrecorded-run", &network));
  ASSERT_EQ(Docsec({"--server", network.url, "login", "admin", "--password-stdin"}, "demo-admin\n",
                   network.runtime.string())
                .code,
            0);
  std::ofstream(Share(0) / "docs" / "unrecorded.txt") << "kept only on stderr\n";
  // A file where the outbox's folder belongs: no folder can be made there, even by root.
  const fs::path outbox = *dir_ / "state" / "docsec" / "log-outbox";
  const fs::path aside = *dir_ / "state" / "outbox-aside";
  fs::create_directories(outbox);
  fs::rename(outbox, aside);
  std::ofstream(outbox) << "not a folder";
  {
    std::lock_guard<std::mutex> lock(item_hook_mutex_);
    item_hook_ = [&network](const std::string& name) {
      if (name.find("unrecorded") != std::string::npos) network.http->Stop();
    };
  }
  Outcome run = Docsec({"--json", "encrypt", "pc-0", "C:/docs/unrecorded.txt", "--password-stdin"},
                       "demo-admin\n", network.runtime.string());
  {
    std::lock_guard<std::mutex> lock(item_hook_mutex_);
    item_hook_ = nullptr;
  }
  fs::remove(outbox);
  fs::rename(aside, outbox);
  EXPECT_EQ(run.code, 4) << run.err;
  const json report = json::parse(run.out, nullptr, false);
  ASSERT_TRUE(report.is_object()) << run.out;
  EXPECT_EQ(report["notRecorded"], 1);
  EXPECT_EQ(report["items"][0]["result"], "changed, not recorded");
  EXPECT_NE(ReadFile(Share(0) / "docs" / "unrecorded.txt"), "kept only on stderr\n");
  for (const char* text :
       {"1 of 1 files were changed but their log entries not recorded", "the outbox cannot keep it",
        "the server did not answer", "it follows whole:", "srcFile=\"C:\\docs\\unrecorded.txt\""}) {
    EXPECT_NE(run.err.find(text), std::string::npos) << text << " not in: " << run.err;
  }
}

// A damaged outbox batch is reported by status and flush with exit 4, and stays reported until
// a person removes what was set aside.
TEST_F(CliTest, DamagedOutboxIsReportedByStatusAndFlush) {
  const fs::path outbox = *dir_ / "state" / "docsec" / "log-outbox";
  fs::create_directories(outbox);
  std::ofstream(outbox / "00000000000000000001.xml") << "<logOutbox><computer name=\"pc\">";
  for (const char* verb : {"status", "flush", "status"}) {
    Outcome run = Docsec({"--json", "outbox", verb});
    EXPECT_EQ(run.code, 4) << verb << ": " << run.err;
    EXPECT_NE(run.err.find("damaged outbox file(s); records were lost"), std::string::npos)
        << run.err;
    const json report = json::parse(run.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << run.out;
    EXPECT_EQ(report["damaged"].size(), 1u) << verb;
    EXPECT_TRUE(report["waiting"].is_number()) << verb;  // the total, as before
  }
  EXPECT_TRUE(fs::exists(outbox / "00000000000000000001.xml.corrupt"));
  fs::remove(outbox / "00000000000000000001.xml.corrupt");
  EXPECT_EQ(Docsec({"outbox", "status"}).code, 0);
}

// Text stored before the server refused invalid UTF-8 (one byte 0xFF here) does not break a
// JSON listing: the byte becomes U+FFFD and stderr says so.
TEST_F(CliTest, InvalidUtf8InStoredTextIsReplacedInEveryJsonListing) {
  const char* const kTables[][2] = {
      {"departments", "id = 1"}, {"users", "id = 'dave'"}, {"logs", "1 = 1"}};
  auto mark = [&kTables](bool add) {
    std::vector<std::string> statements;
    for (const auto& table : kTables) {
      const std::string column = std::string(table[0]) == "logs" ? "user_name" : "name";
      statements.push_back("UPDATE " + std::string(table[0]) + " SET " + column + " = " +
                           (add ? column + " || CAST(X'FF' AS TEXT)"
                                : "replace(" + column + ", CAST(X'FF' AS TEXT), '')") +
                           " WHERE " + table[1]);
    }
    Execute(statements);
  };
  mark(true);
  const std::vector<std::vector<std::string>> kListings = {
      {"--json", "tree"}, {"--json", "users"}, {"--json", "logs", "--per-page", "5"}};
  for (const auto& args : kListings) {
    Outcome run = Docsec(args);
    EXPECT_EQ(run.code, 0) << args[1] << ": " << run.err;
    const json listing = json::parse(run.out, nullptr, false);
    EXPECT_FALSE(listing.is_discarded()) << args[1] << ": " << run.out.substr(0, 200);
    EXPECT_NE(run.out.find("\xEF\xBF\xBD"), std::string::npos) << args[1];
    EXPECT_NE(run.err.find("not valid UTF-8"), std::string::npos) << args[1] << ": " << run.err;
  }
  mark(false);
  EXPECT_EQ(Docsec({"--json", "users"}).err, "");
}

// The server caps a page at 1000 rows; --all with a larger page still lists every entry.
TEST_F(CliTest, AllLogsFollowTheServersPageCap) {
  Execute(
      {"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1100) "
       "INSERT INTO logs(db_index, user_id, user_name, operation_time, operation, src_file, "
       "department_id) SELECT 0, 'admin', 'Admin', '2020-01-01 00:00:00', '1552', "
       "'capped-' || i, 1 FROM n"});
  Outcome run = Docsec({"--json", "logs", "--all", "--per-page", "5000"});
  Execute({"DELETE FROM logs WHERE src_file LIKE 'capped-%'"});
  ASSERT_EQ(run.code, 0) << run.err;
  const json listing = json::parse(run.out);
  EXPECT_GT(listing["total"].get<int>(), 1100);
  EXPECT_EQ(listing["items"].size(), listing["total"].get<size_t>());
}

// Entries keep arriving while --all pages through the log: some newer than every other, some
// tied in time with the entries already there, which are listed newest first (some of those have
// no time, or an empty one as an older writer stored). Each entry that
// existed when the listing began is listed exactly once, and the total is theirs.
TEST_F(CliTest, AllLogsListEachEntryOnceWhileEntriesArrive) {
  constexpr int kExisting = 120;
  Execute({"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
           std::to_string(kExisting) +
           ") INSERT INTO logs(db_index, user_id, operation_time, operation, dst_file, "
           "department_id) SELECT 0, 'admin', CASE i % 10 WHEN 0 THEN NULL WHEN 5 THEN '' ELSE "
           "'2020-02-02 00:00:00' END, '1552', 'walk-old-' || i, 1 FROM n"});
  std::atomic<bool> stop{false};
  std::atomic<int> arrived{0};
  server::ServerOptions options;
  options.database = Db();
  std::string error;
  auto server = server::Server::Open(options, &error);
  ASSERT_TRUE(server) << error;
  std::thread uploads([&] {
    while (!stop) {
      const int n = arrived + 1;
      const char* time = n % 2 ? "2031-01-01 00:00:00" : "2020-02-02 00:00:00";
      server->storage().Run(server::Storage::Access::kWrite,
                            server::Storage::Clock::time_point::max(),
                            [&](server::Transaction& tx) {
                              tx.Execute(
                                  "INSERT INTO logs(db_index, user_id, operation_time, operation,"
                                  " dst_file, department_id) VALUES(0, 'admin', ?, '1552', ?, 1)",
                                  {time, "walk-new-" + std::to_string(n)});
                            });
      arrived = n;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  while (arrived == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const int before = arrived;
  Outcome run = Docsec({"--json", "logs", "--all", "--per-page", "4", "--file", "walk-"});
  const int during = arrived - before;
  stop = true;
  uploads.join();
  Execute({"DELETE FROM logs WHERE dst_file LIKE 'walk-%'"});
  ASSERT_EQ(run.code, 0) << run.err;
  ASSERT_GT(during, 1) << "no entry arrived while the listing ran";
  const json listing = json::parse(run.out);
  std::map<std::string, int> listed;
  for (const json& item : listing["items"]) ++listed[item["file"].get<std::string>()];
  int old_entries = 0, new_entries = 0;
  for (const auto& [file, times] : listed) {
    EXPECT_EQ(times, 1) << file;
    ++(file.rfind("walk-old-", 0) == 0 ? old_entries : new_entries);
  }
  EXPECT_EQ(old_entries, kExisting);
  // Of the arrivals, those stored before the listing's first page are listed and none stored
  // later: the first ones, whose count is the rest of the total.
  for (int n = 1; n <= new_entries; ++n)
    EXPECT_EQ(listed.count("walk-new-" + std::to_string(n)), 1u);
  EXPECT_EQ(listing["total"].get<size_t>(), listing["items"].size());
}

TEST_F(CliTest, SessionFileIsPrivateExpiresAndEndsWithLogout) {
  const fs::path runtime = *dir_ / "own-run";
  fs::create_directories(runtime);
  auto run = [&](std::vector<std::string> args, const std::string& input = "") {
    return Docsec(args, input, runtime.string());
  };
  EXPECT_EQ(run({"tree"}).code, 1);  // not logged in
  ASSERT_EQ(
      run({"--embedded", Db(), "login", "sales.admin", "--password-stdin"}, "demo-sales\n").code,
      0);
  const fs::path file = runtime / "docsec" / "session.json";
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // The session remembers its server and is limited to the account's sub-tree.
  EXPECT_EQ(Json({"tree"})[0]["path"], "/Demo Corp");
  EXPECT_EQ(json::parse(run({"--json", "tree"}).out)[0]["path"], "/Demo Corp/Sales");

  // passwd reads the current password, then the new one.
  ASSERT_EQ(run({"passwd", "--password-stdin"}, "demo-sales\nnew-sales\n").code, 0);
  EXPECT_EQ(
      run({"--embedded", Db(), "login", "sales.admin", "--password-stdin"}, "demo-sales\n").code,
      1);
  ASSERT_EQ(
      run({"--embedded", Db(), "login", "sales.admin", "--password-stdin"}, "new-sales\n").code, 0);

  fs::permissions(file, fs::perms::group_read, fs::perm_options::add);
  Outcome exposed = run({"tree"});
  EXPECT_EQ(exposed.code, 1);
  EXPECT_NE(exposed.err.find("not private"), std::string::npos) << exposed.err;
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);

  // An embedded session whose account is gone is refused with that cause.
  json session = json::parse(ReadFile(file));
  json gone = session;
  gone["account"] = "ghost";
  std::ofstream(file) << gone.dump();
  Outcome ghost = run({"tree"});
  EXPECT_EQ(ghost.code, 1);
  EXPECT_NE(ghost.err.find("cannot resume the session of ghost: no account ghost"),
            std::string::npos)
      << ghost.err;
  std::ofstream(file) << session.dump();

  session["lastUsed"] = session["lastUsed"].get<int64_t>() - 31 * 60;
  std::ofstream(file) << session.dump();
  Outcome expired = run({"tree"});
  EXPECT_EQ(expired.code, 1);
  EXPECT_NE(expired.err.find("expired"), std::string::npos) << expired.err;
  EXPECT_FALSE(fs::exists(file));

  ASSERT_EQ(
      run({"--embedded", Db(), "login", "sales.admin", "--password-stdin"}, "new-sales\n").code, 0);
  EXPECT_NE(run({"logout"}).out.find("logged out"), std::string::npos);
  EXPECT_EQ(run({"tree"}).code, 1);
}

TEST_F(CliTest, NetworkSessionCarriesOverToLaterCommands) {
  NetworkServer network;
  ASSERT_NO_FATAL_FAILURE(ServeOverHttp("net-run", &network));
  Outcome login = Docsec({"--server", network.url, "login", "admin", "--password-stdin"},
                         "demo-admin\n", network.runtime.string());
  ASSERT_EQ(login.code, 0) << login.err;
  Outcome tree = Docsec({"--json", "tree", "--depth", "0"}, "", network.runtime.string());
  ASSERT_EQ(tree.code, 0) << tree.err;
  EXPECT_EQ(json::parse(tree.out)[0]["path"], "/Demo Corp");
  // A password change ends the session it came with; the new one the server gives is kept.
  for (const char* lines : {"demo-admin\nchanged-admin\n", "changed-admin\ndemo-admin\n"}) {
    ASSERT_EQ(Docsec({"passwd", "--password-stdin"}, lines, network.runtime.string()).code, 0);
    Outcome after = Docsec({"tree", "--depth", "0"}, "", network.runtime.string());
    EXPECT_EQ(after.code, 0) << after.err;
  }
  network.http->Stop();
  Outcome gone = Docsec({"tree"}, "", network.runtime.string());
  EXPECT_EQ(gone.code, 3) << gone.err;

  // logout ends the session on the server, not only in the file: a copied token is worthless.
  std::string error;
  ASSERT_TRUE(network.http->Start(&error)) << error;
  const std::string again = "http://127.0.0.1:" + std::to_string(network.http->port());
  ASSERT_EQ(Docsec({"--server", again, "login", "admin", "--password-stdin"}, "demo-admin\n",
                   network.runtime.string())
                .code,
            0);
  const std::string token =
      json::parse(ReadFile(network.runtime / "docsec" / "session.json"))["token"]
          .get<std::string>();
  const std::string query =
      "<document><service value=\"QueryUser\"/><user id=\"admin\"/></document>";
  ASSERT_EQ(network.server->Handle({1, query, token}).code, 0);
  Outcome logout = Docsec({"logout"}, "", network.runtime.string());
  EXPECT_EQ(logout.code, 0) << logout.err;
  EXPECT_EQ(network.server->Handle({1, query, token}).code, server::kNoSession);
}

// Each setting comes from the first of: flags, environment, the configuration file's profile,
// the session. A dead address at one layer and a live one at another tell which layer won.
TEST_F(CliTest, SettingsAreLayeredFlagsEnvironmentProfileSession) {
  NetworkServer network;
  ASSERT_NO_FATAL_FAILURE(ServeOverHttp("layered-run", &network));
  const std::string live = network.url;
  const std::string dead = "http://127.0.0.1:9";
  fs::create_directories(*dir_ / "config" / "docsec");
  const fs::path config = *dir_ / "config" / "docsec" / "config";
  std::ofstream(config) << "# the suite's profiles\n[default]\nserver = " << live
                        << "\noutput = json\n\n[profile dead]\nserver = " << dead
                        << "\n[profile live]\nserver=" << live << "\ntimeout-ms = 20000\n";
  const std::string runtime = network.runtime.string();
  const struct {
    std::vector<std::string> args;
    std::string environment;
    int code;
    std::string server;  // where the login went
  } kCases[] = {
      {{}, "", 0, live},                                          // [default]
      {{"--profile", "dead"}, "", 3, dead},                       // --profile
      {{}, "DOCSEC_PROFILE=dead", 3, dead},                       // DOCSEC_PROFILE
      {{"--profile", "live"}, "DOCSEC_PROFILE=dead", 0, live},    // the flag before the variable
      {{"--profile", "dead"}, "DOCSEC_SERVER=" + live, 0, live},  // environment before profile
      {{"--server", live}, "DOCSEC_SERVER=" + dead, 0, live},     // flag before environment
  };
  for (const auto& c : kCases) {
    std::vector<std::string> args = c.args;
    for (const char* arg : {"login", "admin", "--password-stdin"}) args.push_back(arg);
    Outcome run = Docsec(args, "demo-admin\n", runtime, c.environment);
    EXPECT_EQ(run.code, c.code) << c.environment << " " << run.err;
    EXPECT_NE((run.out + run.err).find(c.server), std::string::npos) << run.out << run.err;
  }
  // The profile's "output = json" holds until a higher layer says otherwise.
  const struct {
    std::vector<std::string> args;
    std::string environment;
    bool json;
  } kOutputs[] = {{{"tree"}, "", true},
                  {{"--output", "table", "tree"}, "", false},
                  {{"tree"}, "DOCSEC_OUTPUT=table", false},
                  {{"--json", "tree"}, "DOCSEC_OUTPUT=table", true}};
  for (const auto& c : kOutputs) {
    Outcome run = Docsec(c.args, "", runtime, c.environment);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(!run.out.empty() && run.out[0] == '[', c.json) << run.out;
  }
  // The profile names a server, so it wins over the session's; without it the session serves.
  std::ofstream(config) << "[default]\nserver = " << dead << "\n";
  Outcome elsewhere = Docsec({"tree"}, "", runtime);
  EXPECT_EQ(elsewhere.code, 1);
  EXPECT_NE(elsewhere.err.find("not logged in to " + dead), std::string::npos) << elsewhere.err;
  fs::remove(config);
  EXPECT_EQ(Docsec({"tree"}, "", runtime).code, 0);
  // logout still ends the session on its own server, not on the one the profile names.
  std::ofstream(config) << "[default]\nserver = " << dead << "\n";
  const std::string token =
      json::parse(ReadFile(network.runtime / "docsec" / "session.json"))["token"];
  const std::string query =
      "<document><service value=\"QueryUser\"/><user id=\"admin\"/></document>";
  ASSERT_EQ(network.server->Handle({1, query, token}).code, 0);
  EXPECT_EQ(Docsec({"logout"}, "", runtime).code, 0);
  EXPECT_EQ(network.server->Handle({1, query, token}).code, server::kNoSession);
  fs::remove(config);
}

TEST(Settings, MalformedConfigurationIsRefusedWithItsLine) {
  const struct {
    std::string text;
    std::string error;  // "" when the profile reads
  } kCases[] = {
      {"[default]\nserver = http://h:1\n", ""},
      {"; comment\n\n[profile a]\nca-file = ca.pem\n[default]\ninsecure = yes\n", ""},
      {"[default]\nsever = http://h:1\n", "cfg:2: unknown key \"sever\""},
      {"server = http://h:1\n", "cfg:1: \"server = http://h:1\" comes before any"},
      {"[default]\n[profile]\n", "cfg:2: a section is [default] or [profile NAME]"},
      {"[default]\nserver = h:1\n", "cfg:2: server must be http://host:port"},
      {"[default]\n\ntimeout-ms = 0\n", "cfg:3: timeout-ms must be a number"},
      {"[default]\noutput = xml\n", "cfg:2: output must be table or json"},
      // Another profile's typo is reported too: it would surface the day that one is used.
      {"[default]\n[profile b]\nbogus = 1\n", "cfg:3: unknown key \"bogus\""},
  };
  for (const auto& c : kCases) {
    Profile profile;
    bool found = false;
    std::string error;
    EXPECT_EQ(ParseProfile(c.text, "/etc/cfg", "default", &profile, &found, &error),
              c.error.empty())
        << c.text;
    EXPECT_EQ(error.rfind("/etc/" + c.error, 0) == 0, !c.error.empty()) << error;
  }
  Profile profile;
  bool found = false;
  std::string error;
  ASSERT_TRUE(ParseProfile("[profile  a ]\nca-file = ca.pem\ninsecure = no\n", "/etc/d/cfg", "a",
                           &profile, &found, &error));
  EXPECT_TRUE(found);
  EXPECT_EQ(profile.ca_file, "/etc/d/ca.pem");  // beside the file, not the working folder
  EXPECT_EQ(profile.insecure, false);
  EXPECT_FALSE(profile.server.has_value());
}

// --server names the server and nothing else: the environment's other transport settings (a
// recording here, directly or through DOCSEC_TRANSPORT_CONFIG) still apply.
TEST_F(CliTest, ServerFlagKeepsTheEnvironmentsTransportSettings) {
  NetworkServer network;
  ASSERT_NO_FATAL_FAILURE(ServeOverHttp("env-run", &network));
  const fs::path direct = *dir_ / "direct.rec", through = *dir_ / "through.rec";
  std::ofstream(*dir_ / "transport.conf") << "record_file = " << through.string() << "\n";
  const struct {
    std::string environment;
    fs::path recording;
  } kCases[] = {{"DOCSEC_RECORD=" + Quote(direct.string()), direct},
                {"DOCSEC_TRANSPORT_CONFIG=" + Quote((*dir_ / "transport.conf").string()), through}};
  for (const auto& c : kCases) {
    Outcome run = Docsec({"--server", network.url, "login", "admin", "--password-stdin"},
                         "demo-admin\n", network.runtime.string(), c.environment);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(ReadFile(c.recording).find("<service value=\"Login\"/>"), std::string::npos)
        << c.environment;
  }
}

// HTTPS trust is given once, at login, and kept with the session; an unchecked certificate is
// warned about on every command that relies on it.
TEST_F(CliTest, HttpsTrustIsKeptWithTheSession) {
  const fs::path certificates = *dir_ / "certificates";
  fs::create_directories(certificates);
  ASSERT_TRUE(docsec::testing::MakeTestCertificates(certificates.string()));
  server::HttpOptions tls;
  tls.tls_cert = (certificates / "server.pem").string();
  tls.tls_key = (certificates / "server.key").string();
  NetworkServer network;
  ASSERT_NO_FATAL_FAILURE(ServeOverHttp("tls-run", &network, tls));
  const std::string runtime = network.runtime.string();
  const std::string ca = (certificates / "ca.pem").string();
  const std::string plain = "http" + network.url.substr(5);
  const std::string warning = "is not checked (--insecure)";
  const struct {
    std::vector<std::string> args;
    int code;
    std::string err;  // in stderr; "" for none at all
  } kSteps[] = {
      {{"--server", network.url, "login", "admin", "--password-stdin"},
       3,
       "certificate not trusted"},
      {{"--server", plain, "login", "admin", "--password-stdin"}, 3, "use " + network.url},
      {{"--server", network.url, "--ca-file", ca, "login", "admin", "--password-stdin"}, 0, ""},
      {{"tree"}, 0, ""},  // the session's CA file
      {{"--server", network.url, "--insecure", "login", "admin", "--password-stdin"}, 0, warning},
      {{"tree"}, 0, warning},  // the session's --insecure, warned again
      {{"--server", network.url, "--ca-file", ca, "login", "admin", "--password-stdin"}, 0, ""},
      {{"tree"}, 0, ""},
  };
  for (const auto& step : kSteps) {
    Outcome run = Docsec(step.args, "demo-admin\n", runtime);
    EXPECT_EQ(run.code, step.code) << step.args[0] << " " << run.err;
    if (step.err.empty()) {
      EXPECT_EQ(run.err, "") << step.args[0];
    } else {
      EXPECT_NE(run.err.find(step.err), std::string::npos) << run.err;
    }
  }
  const json session = json::parse(ReadFile(network.runtime / "docsec" / "session.json"));
  EXPECT_EQ(session["caFile"], ca);
  EXPECT_EQ(session["insecure"], false);
}

// A saved session signs file changes itself: no password is asked again, and the files get the
// level asked for, named or numbered.
TEST_F(CliTest, EncryptWithALevelOnTheSavedSessionAlone) {
  const struct {
    std::string file;
    std::string level;
    std::string listed;
  } kCases[] = {{"levelled-name.txt", "Confidential", "Confidential"},
                {"levelled-id.txt", "2", "Secret"}};
  for (const auto& c : kCases) {
    std::ofstream(Share(0) / "docs" / c.file) << "to be labelled\n";
    Outcome run = Docsec({"encrypt", "pc-0", "C:/docs/" + c.file, "--level", c.level});
    ASSERT_EQ(run.code, 0) << run.err;
    bool seen = false;
    for (const json& row : Json({"ls", "pc-0", "C:/docs"})) {
      if (row["name"] != c.file) continue;
      seen = true;
      EXPECT_EQ(row["level"]["name"], c.listed) << c.file;
      EXPECT_TRUE(row["encrypted"].get<bool>());
    }
    EXPECT_TRUE(seen) << c.file;
    ASSERT_EQ(Docsec({"decrypt", "pc-0", "C:/docs/" + c.file}).code, 0);
  }
  EXPECT_EQ(Docsec({"encrypt", "pc-0", "C:/docs/a.txt", "--level", "Nonesuch"}).code, 2);
}

// A path that names nothing fails on its own; the rest of the batch is done.
TEST_F(CliTest, MissingPathsInABatchFailAlone) {
  std::ofstream(Share(1) / "docs" / "batch.txt") << "batch\n";
  const struct {
    std::vector<std::string> paths;
    int code;
    int done, failed;
  } kCases[] = {
      {{"C:/docs/nope.txt", "C:/docs/batch.txt", "C:/nowhere/x.txt"}, 4, 1, 2},
      {{"C:/docs/nope.txt"}, 1, 0, 1},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> args = {"--json", "encrypt", "pc-1"};
    args.insert(args.end(), c.paths.begin(), c.paths.end());
    Outcome run = Docsec(args);
    EXPECT_EQ(run.code, c.code) << run.err;
    const json report = json::parse(run.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << run.out << run.err;
    EXPECT_EQ(report["done"], c.done);
    EXPECT_EQ(report["failed"], c.failed);
    EXPECT_NE(report["items"].dump().find("no file or folder C:/docs/nope.txt"), std::string::npos)
        << report.dump();
  }
  EXPECT_EQ(Docsec({"decrypt", "pc-1", "C:/docs/batch.txt"}).code, 0);
}

// probe exits 0 only when every computer asked for answered, and says why one did not.
TEST_F(CliTest, ProbeExitStatusAndCauses) {
  ASSERT_EQ(Docsec({"computer", "disapprove", "pc-1", "--yes"}).code, 0);
  const struct {
    std::vector<std::string> targets;
    int code;
    std::map<std::string, std::string> status;  // name -> status
  } kCases[] = {
      {{"pc-0"}, 0, {{"pc-0", "running"}}},
      {{computers_[0].ip, "pc-gone"}, 4, {{"pc-0", "running"}, {"pc-gone", "agent not running"}}},
      {{"pc-1"}, 4, {{"pc-1", "not approved"}}},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> args = {"--json", "probe"};
    args.insert(args.end(), c.targets.begin(), c.targets.end());
    Outcome run = Docsec(args);
    EXPECT_EQ(run.code, c.code) << run.err;
    const json report = json::parse(run.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << run.out << run.err;
    std::map<std::string, std::string> status;
    for (const json& row : report["computers"]) {
      status[row["name"]] = row["status"];
      if (row["name"] == "pc-gone") {
        EXPECT_NE(row["cause"].get<std::string>().find(computers_[2].ip), std::string::npos)
            << row.dump();
      }
    }
    EXPECT_EQ(status, c.status);
  }
  EXPECT_NE(Docsec({"probe", "pc-1"}).out.find("approve it first"), std::string::npos);
  Outcome unapproved = Docsec({"ls", "pc-1", "C:/docs"});
  EXPECT_EQ(unapproved.code, 3);
  EXPECT_NE(unapproved.err.find("pc-1 is not approved"), std::string::npos) << unapproved.err;
  EXPECT_EQ(Docsec({"probe", "Nowhere"}).code, 2);
  ASSERT_EQ(Docsec({"computer", "approve", "pc-1"}).code, 0);
}

// Every listing speaks one vocabulary: a level is {"id": number, "name": text}, counts and ids
// are numbers, a computer's address is "ip".
TEST_F(CliTest, JsonListingsSpeakOneVocabulary) {
  ASSERT_EQ(Docsec({"scan-settings", "set", "txt=Confidential"}).code, 0);
  enum Kind { kText, kNumber, kBool, kNamed, kNamedOrNull };
  const struct {
    std::vector<std::string> args;
    std::string rows;  // the key holding the rows; "" when the output is the rows
    std::vector<std::pair<std::string, Kind>> keys;
  } kCases[] = {
      {{"tree"}, "", {{"id", kNumber}, {"depth", kNumber}, {"users", kNumber}, {"path", kText}}},
      {{"users"}, "", {{"id", kText}, {"locked", kBool}}},
      {{"positions", "Sales"}, "", {{"id", kNumber}, {"name", kText}}},
      {{"computers"}, "", {{"ip", kText}, {"approved", kBool}}},
      {{"levels"}, "", {{"id", kNumber}, {"name", kText}}},
      {{"ls", "pc-0", "C:/docs"}, "", {{"level", kNamedOrNull}}},
      {{"policy", "show", "Engineering"}, "", {{"level", kNamed}, {"permission", kNumber}}},
      {{"default-levels", "show", "Engineering"}, "", {{"level", kNamed}}},
      {{"scan-settings", "show"}, "extensions", {{"level", kNamed}}},
      {{"logs", "--per-page", "5"},
       "items",
       {{"operation", kNamed}, {"type", kNamed}, {"level", kNamedOrNull}}},
      {{"logs", "operations"}, "", {{"id", kNumber}, {"name", kText}, {"type", kNamed}}},
      {{"scanlogs"}, "items", {{"id", kNumber}, {"status", kNumber}, {"computerIp", kText}}},
  };
  auto is = [](const json& value, Kind kind) {
    switch (kind) {
      case kText: return value.is_string();
      case kNumber: return value.is_number_integer();
      case kBool: return value.is_boolean();
      case kNamedOrNull:
        if (value.is_null()) return true;
        [[fallthrough]];
      case kNamed:
        return value.is_object() && value.size() == 2 && value["id"].is_number_integer() &&
               value["name"].is_string();
    }
    return false;
  };
  for (const auto& c : kCases) {
    const json output = Json(c.args);
    const json rows = c.rows.empty() ? output : output[c.rows];
    ASSERT_TRUE(rows.is_array()) << c.args[0];
    ASSERT_FALSE(rows.empty()) << c.args[0];
    for (const json& row : rows) {
      for (const auto& [key, kind] : c.keys) {
        EXPECT_TRUE(is(row[key], kind)) << c.args[0] << " " << key << ": " << row;
      }
    }
  }
}

TEST_F(CliTest, LogFiltersTakeNamesOrCodes) {
  const struct {
    const char* option;
    const char* name;
    const char* code;
  } kCases[] = {
      {"--operation", "Encrypt file", "1552"},
      {"--operation", "decrypt FILE", "1553"},
      {"--type", "File operation", "1536"},
      {"--level", "Secret", "2"},
  };
  for (const auto& c : kCases) {
    const json by_name = Json({"logs", "--per-page", "100", c.option, c.name});
    const json by_code = Json({"logs", "--per-page", "100", c.option, c.code});
    EXPECT_GT(by_name["total"].get<int>(), 0) << c.name;
    EXPECT_EQ(by_name, by_code) << c.name;
  }
  Outcome unknown = Docsec({"logs", "--operation", "Encrypt everything"});
  EXPECT_EQ(unknown.code, 2);
  EXPECT_NE(unknown.err.find("Encrypt file (1552)"), std::string::npos) << unknown.err;
}

TEST_F(CliTest, PermissionsByNameOrDefinedBits) {
  const struct {
    const char* permission;
    int code;
    long stored;  // when accepted
  } kCases[] = {
      {"read,print", 0, 3}, {"Print, READ", 0, 3}, {"5", 0, 5},
      {"0x21", 0, 0x21},    {"010", 0, 10},        {"99", 2, 0},
      {"delete", 2, 0},     {"read,", 2, 0},       {"0", 2, 0},
  };
  for (const auto& c : kCases) {
    Outcome run = Docsec({"policy", "grant", "Sales", "--level", "3", "--account", "carol",
                          "--permission", c.permission});
    EXPECT_EQ(run.code, c.code) << c.permission << ": " << run.err;
    if (c.code != 0) {
      EXPECT_NE(run.err.find("read (1), print (2)"), std::string::npos) << run.err;
      continue;
    }
    long stored = -1;
    for (const json& row : Json({"policy", "show", "Sales"})) {
      if (row["who"] == "carol" && row["level"]["id"] == 3) stored = row["permission"];
    }
    EXPECT_EQ(stored, c.stored) << c.permission;
  }
  EXPECT_EQ(Docsec({"policy", "refuse", "Sales", "--level", "3", "--account", "carol"}).code, 0);
  Outcome help = Docsec({"policy", "--help"});
  EXPECT_NE(help.out.find("decrypt (16)"), std::string::npos) << help.out;
}

// A destructive command without a terminal needs --yes, and --dry-run sends no change: the
// exchange log (-v) shows the look-ups only.
TEST_F(CliTest, DestructiveCommandsConfirmOrDryRun) {
  const std::string policy = (*dir_ / "dry-policy.json").string();
  std::ofstream(policy) << "[]";
  const struct {
    std::vector<std::string> args;
    const char* request;
  } kCases[] = {
      {{"user", "remove", "bob"}, "DelUser"},
      {{"dept", "remove", "South"}, "DelDepartment"},
      {{"position", "remove", "Sales:Sales Director"}, "DelPosition"},
      {{"ipseg", "clear", "Engineering"}, "DelIpSegment"},
      {{"computer", "disapprove", "pc-0"}, "UpdateComputer"},
      {{"policy", "apply", "Engineering", policy}, "SetPolicy"},
  };
  const json before = {Json({"users", "--id", "bob"}),
                       Json({"tree"}),
                       Json({"computers"}),
                       Json({"positions"}),
                       Json({"policy", "show", "Engineering"}),
                       Json({"ipseg", "list", "Engineering"})};
  for (const auto& c : kCases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "-v");
    Outcome unasked = Docsec(args);
    EXPECT_EQ(unasked.code, 2) << c.request;
    EXPECT_NE(unasked.err.find("add --yes"), std::string::npos) << unasked.err;
    args.push_back("--dry-run");
    Outcome dry = Docsec(args);
    EXPECT_EQ(dry.code, 0) << dry.err;
    EXPECT_NE(dry.out.find(std::string("(request ") + c.request + ")"), std::string::npos)
        << dry.out;
    for (const Outcome& run : {unasked, dry}) {
      EXPECT_EQ(run.err.find(std::string("exchange ") + c.request + " "), std::string::npos)
          << run.err;
    }
  }
  const json after = {Json({"users", "--id", "bob"}),
                      Json({"tree"}),
                      Json({"computers"}),
                      Json({"positions"}),
                      Json({"policy", "show", "Engineering"}),
                      Json({"ipseg", "list", "Engineering"})};
  EXPECT_EQ(after, before);
}

// On a terminal the question is asked, and only a yes acts.
TEST_F(CliTest, DestructiveCommandsAskOnATerminal) {
  ASSERT_EQ(Docsec({"user", "add", "South", "temp.asked"}).code, 0);
  const struct {
    const char* typed;
    int code;
    const char* shown;
  } kAnswers[] = {
      {"\n", 2, "not confirmed; nothing was sent"},
      {"no\n", 2, "not confirmed; nothing was sent"},
      {"Y\n", 0, "removed user temp.asked"},
  };
  for (const auto& answer : kAnswers) {
    Outcome run = OnTerminal({"user", "remove", "temp.asked"}, answer.typed);
    EXPECT_EQ(run.code, answer.code) << run.out;
    EXPECT_NE(run.out.find("remove user temp.asked from /Demo Corp/Sales/South? [y/N]"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(answer.shown), std::string::npos) << run.out;
  }
  EXPECT_TRUE(Json({"users", "--id", "temp.asked"}).empty());
}

TEST_F(CliTest, ObjectComesBeforeTargetAndPositionsAreAddedAndRemoved) {
  const struct {
    std::vector<std::string> args;
    int code;
    std::string text;  // in stdout, or stderr on failure
  } kSteps[] = {
      {{"computer", "move", "South", "pc-1"}, 2, "docsec computer move pc-1 South"},
      {{"computer", "move", "pc-1"}, 2, "DEPT is required"},
      {{"position", "add", "South", "Clerk"}, 0, "added position Clerk to /Demo Corp/Sales/South"},
      {{"position", "remove", "South:Clerk", "--yes"}, 0, "removed position Clerk"},
  };
  for (const auto& step : kSteps) {
    Outcome run = Docsec(step.args);
    EXPECT_EQ(run.code, step.code) << step.args[1] << ": " << run.err;
    EXPECT_NE((step.code == 0 ? run.out : run.err).find(step.text), std::string::npos)
        << run.out << run.err;
  }
  EXPECT_TRUE(Json({"positions", "South", "--name", "Clerk"}).empty());
}

TEST_F(CliTest, HelpSuggestionsCompletionAndManual) {
  const struct {
    std::vector<std::string> args;
    int code;
    std::string text;  // in stdout, or stderr on failure
  } kCases[] = {
      {{"tre"}, 2, "unknown command \"tre\"; did you mean tree?"},
      {{"--json", "usres"}, 2, "did you mean users"},
      {{"user", "remvoe", "zed"}, 2, "unknown command \"remvoe\" of user; did you mean remove?"},
      {{"help", "tre"}, 2, "did you mean tree?"},
      {{"help"}, 0, "completion"},
      {{"help", "computer", "move"}, 0, "docsec computer move"},
      {{"completion", "ksh"}, 2, "ksh"},
  };
  for (const auto& c : kCases) {
    Outcome run = Docsec(c.args);
    EXPECT_EQ(run.code, c.code) << c.args[0] << ": " << run.err;
    EXPECT_NE((c.code == 0 ? run.out : run.err).find(c.text), std::string::npos)
        << run.out << run.err;
  }

  // The bash script loads, registers itself and completes sub-commands and options.
  const std::string bash = "bash -c " +
                           Quote(std::string("source <(") + DOCSEC_CLI_PATH +
                                 " completion bash) && complete -p docsec && "
                                 "COMP_WORDS=(docsec user re) COMP_CWORD=2 && _docsec && "
                                 "echo \"[${COMPREPLY[*]}]\" && "
                                 "COMP_WORDS=(docsec --json logs --op) COMP_CWORD=3 && _docsec && "
                                 "echo \"[${COMPREPLY[*]}]\" && "
                                 "COMP_WORDS=(docsec help tr) COMP_CWORD=2 && _docsec && "
                                 "echo \"[${COMPREPLY[*]}]\"") +
                           " 2>&1";
  FILE* pipe = popen(bash.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string completed;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) completed += buffer;
  EXPECT_EQ(pclose(pipe), 0) << completed;
  EXPECT_NE(completed.find("complete -F _docsec docsec"), std::string::npos) << completed;
  EXPECT_NE(completed.find("[remove]"), std::string::npos) << completed;
  EXPECT_NE(completed.find("[--operation]"), std::string::npos) << completed;
  EXPECT_NE(completed.find("[tree]"), std::string::npos) << completed;
  for (const char* shell : {"zsh", "fish"}) {
    Outcome script = Docsec({"completion", shell});
    EXPECT_EQ(script.code, 0);
    EXPECT_NE(script.out.find("remove"), std::string::npos) << shell;
  }

  // The manual page renders without warnings and names every command.
  Outcome man = Docsec({"--man"});
  ASSERT_EQ(man.code, 0) << man.err;
  for (const char* section : {".SH NAME", ".SH SYNOPSIS", ".SH COMMANDS", ".SH EXIT STATUS"}) {
    EXPECT_NE(man.out.find(section), std::string::npos) << section;
  }
  const fs::path page = *dir_ / "docsec.1";
  std::ofstream(page) << man.out;
  const std::string render = "groff -man -Tutf8 -ww " + Quote(page.string()) + " 2>&1 >/dev/null";
  pipe = popen(render.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string warnings;
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) warnings += buffer;
  EXPECT_EQ(pclose(pipe), 0) << warnings;
  EXPECT_EQ(warnings, "");
  const std::string read = "MANWIDTH=200 man -l " + Quote(page.string()) + " 2>&1 | cat";
  pipe = popen(read.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string text;
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
  pclose(pipe);
  EXPECT_NE(text.find("docsec position remove POSITION"), std::string::npos) << text;
  EXPECT_NE(text.find("--dry-run"), std::string::npos);
}

TEST_F(CliTest, QuietEncryptPrintsTheSummaryOnly) {
  fs::create_directories(Share(1) / "many" / "deeper");
  for (int i = 0; i < 24; ++i) {
    std::ofstream(Share(1) / "many" / (i % 2 ? "deeper" : "") / ("f" + std::to_string(i) + ".txt"))
        << "plain " << i << "\n";
  }
  Outcome quiet = Docsec({"-q", "encrypt", "pc-1", "C:/many", "--recursive", "--password-stdin"},
                         "demo-admin\n");
  ASSERT_EQ(quiet.code, 0) << quiet.err;
  EXPECT_EQ(quiet.out, "24 done, 0 failed, 0 skipped\n");
  Outcome loud =
      Docsec({"decrypt", "pc-1", "C:/many", "--recursive", "--password-stdin"}, "demo-admin\n");
  ASSERT_EQ(loud.code, 0) << loud.err;
  EXPECT_EQ(std::count(loud.out.begin(), loud.out.end(), '\n'), 1 + 24 + 1) << loud.out;
}

TEST(Output, ColourOnlyOnATerminalWithoutNoColor) {
  const struct {
    const char* mode;
    bool terminal;
    const char* no_color;
    bool colour;
  } kCases[] = {{"auto", true, nullptr, true},   {"auto", false, nullptr, false},
                {"auto", true, "1", false},      {"always", false, "1", true},
                {"never", true, nullptr, false}, {"auto", true, "", true}};
  for (const auto& c : kCases) {
    if (c.no_color != nullptr) {
      setenv("NO_COLOR", c.no_color, 1);
    } else {
      unsetenv("NO_COLOR");
    }
    setenv("TERM", "xterm", 1);
    EXPECT_EQ(DecideColour(c.mode, c.terminal), c.colour) << c.mode << " " << c.terminal;
  }
  unsetenv("NO_COLOR");
}

TEST(Output, WideCharactersKeepColumnsAligned) {
  std::ostringstream out, err;
  Output output(out, err, false, false, false);
  Table table({{"name", "NAME"}, {"id", "ID"}});
  table.Add({{"name", "\xe5\xbc\xa0\xe4\xb8\x89"}, {"id", 1}});  // two wide characters
  table.Add({{"name", "abcde"}, {"id", 2}});
  output.PrintTable(table);
  std::istringstream lines(out.str());
  std::string heading, wide, narrow;
  std::getline(lines, heading);
  std::getline(lines, wide);
  std::getline(lines, narrow);
  EXPECT_EQ(heading, "NAME   ID");
  EXPECT_EQ(narrow, "abcde  2");
  EXPECT_EQ(wide.size(), narrow.size() + 6 - 4);  // six bytes that take four columns
}

TEST(RunCli, RunsInProcessAndNeedsALoginAndAServer) {
  const std::string runtime =
      fs::temp_directory_path() / ("docsec-cli-empty-" + std::to_string(getpid()));
  fs::create_directories(runtime);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  unsetenv("DOCSEC_SERVER");
  std::ostringstream out, err;
  EXPECT_EQ(RunCli({"tree"}, out, err), kExitRefused);
  EXPECT_EQ(err.str(), "docsec: not logged in (run: docsec login)\n");
  setenv("DOCSEC_CLI_TEST_PASSWORD", "x", 1);
  std::ostringstream no_server;
  EXPECT_EQ(
      RunCli({"login", "admin", "--password-env", "DOCSEC_CLI_TEST_PASSWORD"}, out, no_server),
      kExitUsage);
  EXPECT_EQ(no_server.str(),
            "docsec: no server: give --server URL or --embedded DB (or log in first)\n");
  std::ostringstream help;
  EXPECT_EQ(RunCli({"--help"}, help, err), kExitOk);
  EXPECT_NE(help.str().find("encrypt"), std::string::npos);
  fs::remove_all(runtime);
}

}  // namespace
}  // namespace docsec::cli
