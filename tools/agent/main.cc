// docsec-agent: runs the reference agent in the foreground until SIGINT or SIGTERM.
#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "docsec/platform/trace.h"
#include "docsec/version.h"
#include "tools/agent/reference_agent.h"

namespace {

volatile std::sig_atomic_t g_stop_signal = 0;

extern "C" void OnStopSignal(int signal_number) { g_stop_signal = signal_number; }

std::string DefaultStateDir() {
  if (const char* dir = std::getenv("STATE_DIRECTORY"); dir && *dir) return dir;
  if (const char* dir = std::getenv("XDG_STATE_HOME"); dir && *dir) {
    return std::string(dir) + "/docsec-agent";
  }
  if (const char* home = std::getenv("HOME"); home && *home) {
    return std::string(home) + "/.local/state/docsec-agent";
  }
  return "/var/lib/docsec-agent";
}

}  // namespace

int main(int argc, char** argv) {
  using docsec::agent::AgentCommandLine;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("docsec-agent %s\n", docsec::Version());
    return 0;
  }
  AgentCommandLine command_line;
  std::string error;
  if (!docsec::agent::ParseAgentCommandLine(args, DefaultStateDir(), &command_line, &error)) {
    std::fprintf(stderr, "docsec-agent: %s\n\n%s", error.c_str(),
                 docsec::agent::AgentUsage().c_str());
    return 2;
  }
  if (command_line.help) {
    std::fputs(docsec::agent::AgentUsage().c_str(), stdout);
    return 0;
  }
  if (command_line.verbose) {
    static std::mutex trace_mutex;
    docsec::SetTraceSink([](const std::string& text) {
      std::lock_guard<std::mutex> lock(trace_mutex);
      std::fprintf(stderr, "docsec-agent: %s\n", text.c_str());
    });
  }

  // The server holds up to a thousand connections waiting for their requests; the usual soft
  // limit of descriptors would stop it short of that.
  rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  // A peer that goes away mid-reply must not kill the agent; stop signals end the loop below.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);

  docsec::agent::ReferenceAgent agent(command_line.options);
  if (!agent.Start(&error)) {
    std::fprintf(stderr, "docsec-agent: cannot start: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "docsec-agent: listening on %s:%u with %zu drive(s), uuid %s\n",
               command_line.options.listen_address.c_str(),
               static_cast<unsigned>(command_line.options.port), command_line.options.drives.size(),
               agent.uuid().ToString().c_str());
  while (g_stop_signal == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::fprintf(stderr, "docsec-agent: signal %d, stopping\n", static_cast<int>(g_stop_signal));
  agent.Stop();
  std::fprintf(stderr, "docsec-agent: stopped\n");
  return 0;
}
