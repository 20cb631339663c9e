// The docsec program run as a child process: the demo, the demo kept for later, and probe and
// explain against a demo environment whose agents run in this test.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/cli/demo_environment.h"

namespace docsec::cli {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string output;  // stdout, then stderr
  double seconds = 0;
};

std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs the docsec program with `args` and a private session folder in `home`.
Result Docsec(const std::vector<std::string>& args, const std::string& home) {
  std::string command = "XDG_RUNTIME_DIR=" + Quoted(home) + " DOCSEC_TEST_PASSWORD=demo-admin " +
                        Quoted(DOCSEC_CLI_PROGRAM);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  command += " 2>&1";
  Result result;
  const auto start = std::chrono::steady_clock::now();
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class DemoProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/docsec-demo-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    scratch_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
  }
  std::string scratch_;
};

TEST_F(DemoProgramTest, TheTourRunsEveryStepQuickly) {
  Result demo = Docsec({"demo"}, scratch_);
  EXPECT_EQ(demo.status, 0) << demo.output;
  EXPECT_LT(demo.seconds, 30.0);
  for (const char* step :
       {"$ docsec tree", "$ docsec probe", "$ docsec ls demo-pc-1", "$ docsec encrypt demo-pc-1",
        "$ docsec relabel demo-pc-1", "$ docsec decrypt demo-pc-1", "$ docsec logs",
        "$ docsec explain bob demo-pc-1", "running", "rights on the file: 7"}) {
    EXPECT_NE(demo.output.find(step), std::string::npos) << step << "\n" << demo.output;
  }
  // The bytes on disk: plain text, then not, then plain again.
  const std::string plain = "|Project plan: mo|";
  const size_t before = demo.output.find("Before encryption");
  const size_t after = demo.output.find("After encryption");
  const size_t decrypted = demo.output.find("After decryption");
  ASSERT_NE(decrypted, std::string::npos);
  ASSERT_LT(before, after);
  EXPECT_NE(demo.output.substr(before, after - before).find(plain), std::string::npos);
  EXPECT_EQ(demo.output.substr(after, decrypted - after).find(plain), std::string::npos);
  EXPECT_NE(demo.output.find(plain, decrypted), std::string::npos);
}

TEST_F(DemoProgramTest, AKeptDemoGoesOnByHandWithTheAgentsStartedAgain) {
  const std::string kept = scratch_ + "/kept";
  Result demo = Docsec({"demo", "--keep", kept}, scratch_);
  ASSERT_EQ(demo.status, 0) << demo.output;
  EXPECT_TRUE(fs::exists(kept + "/docsec.db"));
  // The re-labelled file stays encrypted, the decrypted one is plain again.
  EXPECT_EQ(ReadFile(kept + "/demo-pc-1/files/Projects/plan.txt"), DemoDocuments()[0].second);
  EXPECT_NE(ReadFile(kept + "/demo-pc-1/files/Projects/budget.csv"), DemoDocuments()[1].second);

  // Start demo-pc-1's agent with the printed command, as a user would.
  const size_t at = demo.output.find("docsec-agent --listen");
  ASSERT_NE(at, std::string::npos) << demo.output;
  const size_t line = demo.output.rfind('\n', at) + 1;
  const std::string agent = demo.output.substr(line, demo.output.find('\n', at) - line);
  FILE* started = popen((agent + " >/dev/null 2>&1 & echo $!").c_str(), "r");
  ASSERT_NE(started, nullptr);
  int pid = 0;
  ASSERT_EQ(fscanf(started, "%d", &pid), 1);
  pclose(started);
  ASSERT_GT(pid, 0);

  ASSERT_EQ(Docsec({"--embedded", kept + "/docsec.db", "--password-env", "DOCSEC_TEST_PASSWORD",
                    "login", "admin"},
                   scratch_)
                .status,
            0);
  Result probe;
  for (int attempt = 0; attempt < 50; ++attempt) {  // until the agent listens
    probe = Docsec({"--json", "probe", "demo-pc-1"}, scratch_);
    if (probe.output.find("\"running\"") != std::string::npos) break;
    usleep(100000);
  }
  kill(pid, SIGTERM);
  ASSERT_EQ(probe.status, 0) << probe.output;
  nlohmann::json report = nlohmann::json::parse(probe.output);
  EXPECT_EQ(report["computers"][0]["name"], "demo-pc-1");
  EXPECT_EQ(report["computers"][0]["status"], "running");
}

// probe and explain in the real program against agents of this process.
TEST_F(DemoProgramTest, ProbeAndExplainSpeakJson) {
  std::string error;
  std::unique_ptr<DemoEnvironment> environment = DemoEnvironment::Create("", false, &error);
  ASSERT_NE(environment, nullptr) << error;
  const std::vector<std::string> login = {
      "--embedded",     environment->database(), "--user", "admin",
      "--password-env", "DOCSEC_TEST_PASSWORD",  "--json"};
  auto with = [&](std::vector<std::string> args) {
    args.insert(args.begin(), login.begin(), login.end());
    return args;
  };
  Result probe = Docsec(with({"probe", "--parallel", "3"}), scratch_);
  ASSERT_EQ(probe.status, 4) << probe.output;  // demo-pc-4 has no agent, demo-pc-5 no approval
  // The report, then the one line on stderr that says how many did not answer.
  const size_t summary = probe.output.rfind("docsec: 2 of 5 computer(s) did not answer");
  ASSERT_NE(summary, std::string::npos) << probe.output;
  nlohmann::json report = nlohmann::json::parse(probe.output.substr(0, summary));
  ASSERT_EQ(report["computers"].size(), 5u);
  EXPECT_EQ(report["computers"][3]["status"], "agent not running");
  EXPECT_EQ(report["computers"][3]["statusCode"], 2);
  EXPECT_EQ(report["parallel"], 3);
  EXPECT_GE(report["serialSeconds"].get<double>(), 0.0);

  Result explain = Docsec(with({"explain", "carol", "Storage"}), scratch_);
  ASSERT_EQ(explain.status, 0) << explain.output;
  nlohmann::json why = nlohmann::json::parse(explain.output);
  EXPECT_EQ(why["department"]["path"], "/Demo Corp/Engineering/Platform/Storage");
  EXPECT_EQ(why["levels"].size(), 0u);
  ASSERT_EQ(why["notInherited"].size(), 1u);
  EXPECT_EQ(why["notInherited"][0]["department"], "/Demo Corp/Engineering/Platform");
  EXPECT_EQ(why["notInherited"][0]["rights"], 1);

  // Wrong use: a missing user is a usage error, a file on a computer without agent unreachable.
  EXPECT_EQ(Docsec(with({"explain", "nobody", "Storage"}), scratch_).status, 2);
  EXPECT_EQ(Docsec(with({"explain", "bob", "demo-pc-4", "C:\\x.txt"}), scratch_).status, 3);
  EXPECT_EQ(Docsec(with({"explain", "bob"}), scratch_).status, 2);
}

}  // namespace
}  // namespace docsec::cli
