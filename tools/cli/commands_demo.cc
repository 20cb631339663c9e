// docsec demo [--keep DIR]: a guided tour of the console against a demo environment (a seeded
// database and three reference agents on loopback addresses). Each step is a docsec command run
// through RunCli, printed with its "$ docsec ..." line exactly as a user typing it would see it.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "docsec/logs/log_outbox.h"
#include "tools/cli/cli.h"
#include "tools/cli/commands.h"
#include "tools/cli/demo_environment.h"

namespace docsec::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPasswordVariable = "DOCSEC_DEMO_PASSWORD";
constexpr const char* kComputer = "demo-pc-1";
constexpr const char* kFolder = "C:\\Projects";
constexpr const char* kPlan = "C:\\Projects\\plan.txt";
constexpr const char* kBudget = "C:\\Projects\\budget.csv";

// The word as a shell would need it typed: quoted when it holds anything but plain characters.
std::string ShellWord(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789-_.,:/=@+") == std::string::npos) {
    return word;
  }
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A program beside this one (installed side by side, or the build tree's tools/agent), else its
// bare name for the PATH to find.
std::string ProgramPath(const std::string& name, const std::string& build_folder) {
  std::error_code code;
  const fs::path self = fs::read_symlink("/proc/self/exe", code);
  if (code) return name;
  if (name == "docsec") return self.string();
  for (const fs::path& candidate :
       {self.parent_path() / name, self.parent_path().parent_path() / build_folder / name}) {
    if (fs::exists(candidate, code)) return candidate.lexically_normal().string();
  }
  return name;
}

// Sets an environment variable for the tour and puts the old value back afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

class Tour {
 public:
  Tour(Context& context, DemoEnvironment& environment)
      : context_(context), environment_(environment), out_(context.output().out()) {}

  // Prints the step's title and command line, runs it and tells an exit status other than
  // `expected`; the first such status is the tour's.
  void Run(const std::string& title, const std::vector<std::string>& args, int expected = kExitOk) {
    std::string line = "$ docsec";
    for (const std::string& arg : args) line += " " + ShellWord(arg);
    out_ << "\n== " << ++step_ << ". " << title << "\n" << line << "\n";
    out_.flush();
    const int status = RunCli(args, out_, context_.output().err());
    if (status != expected) {
      out_ << context_.output().Bad("(exit status " + std::to_string(status) + ")") << "\n";
      if (result_ == kExitOk) result_ = status;
    }
  }

  // The first bytes of a sample document as they lie on the agent's disk.
  void ShowBytes(const std::string& moment, const std::string& agent_path) {
    std::string relative = agent_path.substr(3);  // after "C:\"
    for (char& c : relative) {
      if (c == '\\') c = '/';
    }
    const std::string file = environment_.agents()[0].files_dir + "/" + relative;
    std::ifstream in(file, std::ios::binary);
    char bytes[16] = {};
    in.read(bytes, sizeof bytes);
    const std::streamsize n = in.gcount();
    std::string hex, text;
    for (std::streamsize i = 0; i < n; ++i) {
      char cell[4];
      std::snprintf(cell, sizeof cell, "%02x ", static_cast<unsigned char>(bytes[i]));
      hex += cell;
      text += bytes[i] >= 32 && bytes[i] < 127 ? bytes[i] : '.';
    }
    out_ << "   " << moment << ", the first bytes of " << file << " on disk:\n   " << hex << " |"
         << text << "|\n";
  }

  int result() const { return result_; }

 private:
  Context& context_;
  DemoEnvironment& environment_;
  std::ostream& out_;
  int step_ = 0;
  int result_ = kExitOk;
};

void PrintKeepInstructions(std::ostream& out, const DemoEnvironment& environment) {
  const std::string docsec = ProgramPath("docsec", "cli");
  const std::string agent = ProgramPath("docsec-agent", "agent");
  out << "\nThe demo's database and folders stay in " << environment.directory() << ":\n"
      << "  " << environment.database() << "  the server's database\n";
  for (const DemoAgent& a : environment.agents()) {
    out << "  " << a.files_dir << "  drive C: of " << a.name << "\n";
  }
  out << "\nStart the agents again (each in a terminal of its own, or with & at the end):\n";
  for (size_t i = 0; i < environment.agents().size(); ++i) {
    out << "  " << agent << environment.AgentCommand(i).substr(std::string("docsec-agent").size())
        << "\n";
  }
  out << "\nThen log in and go on by hand:\n"
      << "  " << docsec << " --embedded " << ShellWord(environment.database())
      << " login admin   # password: demo-admin\n"
      << "  " << docsec << " tree\n"
      << "  " << docsec << " probe\n"
      << "  " << docsec << " ls " << kComputer << " " << ShellWord(kFolder) << "\n"
      << "  " << docsec << " explain carol Storage\n"
      << "\nAccounts:";
  for (const server::DemoAccount& account : environment.summary().accounts) {
    out << "\n  " << account.id << " / " << account.password << "  (" << account.role << ")";
  }
  out << "\n";
}

void RunDemo(Context& context, const std::string& keep) {
  const auto start = std::chrono::steady_clock::now();
  std::string error;
  std::unique_ptr<DemoEnvironment> environment =
      DemoEnvironment::Create(keep, !keep.empty(), &error);
  if (!environment) Fail(kExitRefused, "demo: " + error);
  std::ostream& out = context.output().out();
  out << "docsec demo: a server database and " << environment->agents().size()
      << " agents serving sample documents";
  for (const DemoAgent& agent : environment->agents()) {
    out << ", " << agent.name << " on " << agent.address;
  }
  out << "\n";

  // The tour's session and operation-log outbox stay inside the demo's folder, away from the
  // user's own.
  const std::string run_dir = environment->directory() + "/run";
  fs::create_directories(run_dir);
  fs::permissions(run_dir, fs::perms::owner_all);
  ScopedVariable runtime("XDG_RUNTIME_DIR", run_dir);
  ScopedVariable password(kPasswordVariable, "demo-admin");
  SetLogOutboxDirectory((environment->directory() + "/outbox").c_str());

  Tour tour(context, *environment);
  tour.Run("Log in as the supervisor (the session is kept for the next commands)",
           {"--embedded", environment->database(), "--password-env", kPasswordVariable, "login",
            "admin"});
  tour.Run("The organisation", {"tree"});
  // demo-pc-4 has no agent and demo-pc-5 is not approved: the probe says so and exits 4.
  tour.Run("Probe every computer's agent, several at once", {"probe"}, kExitPartial);
  tour.Run("List a folder of a computer, through its agent", {"ls", kComputer, kFolder});
  tour.ShowBytes("Before encryption", kPlan);
  // The saved session signs the file changes' log entries: no password is asked again.
  tour.Run("Encrypt the folder", {"encrypt", kComputer, kFolder});
  tour.ShowBytes("After encryption", kPlan);
  tour.Run("Give one file another secret level", {"relabel", kComputer, kBudget, "--level", "2"});
  tour.Run("Decrypt a file", {"decrypt", kComputer, kPlan});
  tour.ShowBytes("After decryption", kPlan);
  tour.Run("The folder now", {"ls", kComputer, kFolder});
  tour.Run("The operation log: one entry per file done", {"logs", "--per-page", "6"});
  tour.Run("Why bob may open the re-labelled file", {"explain", "bob", kComputer, kBudget});
  SetLogOutboxDirectory(nullptr);

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char finished[80];
  std::snprintf(finished, sizeof finished, "\ndocsec demo: finished in %.1f s", seconds);
  out << finished << (tour.result() == kExitOk ? "" : ", some steps failed") << "\n";
  if (!keep.empty()) PrintKeepInstructions(out, *environment);
  if (tour.result() != kExitOk) Fail(static_cast<ExitCode>(tour.result()), "demo: a step failed");
}

}  // namespace

void RegisterDemoCommand(CLI::App& app, Context& context) {
  auto* demo = app.add_subcommand(
      "demo", "a guided tour against a demo server and three agents on loopback addresses");
  auto keep = std::make_shared<std::string>();
  demo->add_option("--keep", *keep,
                   "leave the database and folders in DIR (new or empty) to go on by hand");
  demo->callback([&context, keep] { RunDemo(context, *keep); });
}

}  // namespace docsec::cli
