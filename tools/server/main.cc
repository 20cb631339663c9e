// docsec-server: the reference management server in the foreground until SIGINT or SIGTERM.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "docsec/version.h"
#include "tools/server/demo_data.h"
#include "tools/server/http_server.h"
#include "tools/server/server.h"

namespace {

volatile std::sig_atomic_t g_stop_signal = 0;

extern "C" void OnStopSignal(int signal_number) { g_stop_signal = signal_number; }

const char kUsage[] =
    "usage: docsec-server --db FILE --listen ADDR:PORT [options]\n"
    "\n"
    "  --db FILE              the database file (created when absent; :memory: for none)\n"
    "  --listen ADDR:PORT     the address and port to serve POST /svc and /svc/ex on\n"
    "                         (port 0: any free port, reported when listening)\n"
    "  --tls-cert FILE        serve HTTPS with this PEM certificate chain (needs --tls-key)\n"
    "  --tls-key FILE         the PEM private key of --tls-cert\n"
    "  --init-demo            seed the demo organisation and print its accounts\n"
    "  --demo-computer UUID@IP[=NAME]\n"
    "                         a demo computer (repeatable; default six at 127.0.0.11-16)\n"
    "  --admin-password-file FILE\n"
    "                         the admin password of a new database, from the first line of FILE\n"
    "                         (or from the environment variable DOCSEC_ADMIN_PASSWORD; default:\n"
    "                         random, printed)\n"
    "  --admin-password TEXT  the same, but visible to every local user in the process list\n"
    "  --help                 print this text\n"
    "  --version              print the version\n";

struct CommandLine {
  std::string db;
  std::string address;
  int port = 0;
  std::string tls_cert;
  std::string tls_key;
  bool init_demo = false;
  std::vector<docsec::server::DemoComputer> computers;
  std::string admin_password;
  bool help = false;
};

bool Parse(const std::vector<std::string>& args, CommandLine* line, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    std::string text;
    if (arg == "--help") {
      line->help = true;
    } else if (arg == "--init-demo") {
      line->init_demo = true;
    } else if (arg == "--db") {
      if (!value(&line->db)) return false;
    } else if (arg == "--tls-cert") {
      if (!value(&line->tls_cert)) return false;
    } else if (arg == "--tls-key") {
      if (!value(&line->tls_key)) return false;
    } else if (arg == "--admin-password") {
      if (!value(&line->admin_password)) return false;
      std::fprintf(stderr,
                   "docsec-server: warning: --admin-password shows the password to every local "
                   "user; use --admin-password-file or DOCSEC_ADMIN_PASSWORD\n");
    } else if (arg == "--admin-password-file") {
      if (!value(&text)) return false;
      std::ifstream file(text);
      if (!file || !std::getline(file, line->admin_password) || line->admin_password.empty()) {
        *error = "--admin-password-file: no password on the first line of " + text;
        return false;
      }
      if (line->admin_password.back() == '\r') line->admin_password.pop_back();
    } else if (arg == "--listen") {
      if (!value(&text)) return false;
      size_t colon = text.rfind(':');
      std::string digits = colon == std::string::npos ? "" : text.substr(colon + 1);
      int port = digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
                         digits.size() > 5
                     ? -1
                     : std::atoi(digits.c_str());
      if (colon == std::string::npos || colon == 0 || port < 0 || port > 65535) {
        *error = "--listen wants ADDR:PORT, not " + text;
        return false;
      }
      line->address = text.substr(0, colon);
      line->port = port;
    } else if (arg == "--demo-computer") {
      if (!value(&text)) return false;
      size_t at = text.find('@');
      size_t equals = text.find('=', at == std::string::npos ? 0 : at);
      if (at == std::string::npos || at == 0) {
        *error = "--demo-computer wants UUID@IP[=NAME], not " + text;
        return false;
      }
      docsec::server::DemoComputer computer;
      computer.uuid = text.substr(0, at);
      computer.ip =
          text.substr(at + 1, equals == std::string::npos ? std::string::npos : equals - at - 1);
      if (equals != std::string::npos) computer.name = text.substr(equals + 1);
      line->computers.push_back(computer);
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  if (line->help) return true;
  if (line->admin_password.empty()) {
    if (const char* password = std::getenv("DOCSEC_ADMIN_PASSWORD"))
      line->admin_password = password;
  }
  if (line->db.empty()) *error = "--db is required";
  if (line->address.empty()) *error = "--listen is required";
  if (line->tls_cert.empty() != line->tls_key.empty()) {
    *error = "--tls-cert and --tls-key go together";
  }
  return error->empty();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace docsec::server;
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("docsec-server %s\n", DOCSEC_VERSION_STRING);
    return 0;
  }
  CommandLine line;
  std::string error;
  if (!Parse(std::vector<std::string>(argv + 1, argv + argc), &line, &error)) {
    std::fprintf(stderr, "docsec-server: %s\n\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (line.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // A client that goes away mid-answer must not kill the server; stop signals end the loop below.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);

  ServerOptions options;
  options.database = line.db;
  options.initial_admin_password = line.admin_password;
  options.exclusive_database = true;
  std::unique_ptr<Server> server = Server::Open(options, &error);
  if (!server) {
    std::fprintf(stderr, "docsec-server: %s\n", error.c_str());
    return 1;
  }
  if (line.init_demo) {
    DemoOptions demo;
    demo.computers = line.computers;
    DemoSummary summary;
    if (!SeedDemo(*server, demo, &summary, &error)) {
      std::fprintf(stderr, "docsec-server: %s\n", error.c_str());
      return 1;
    }
    std::fprintf(stderr,
                 "docsec-server: demo seeded: %d departments, %d users, %d computers, %d logs\n",
                 summary.departments, summary.users, summary.computers, summary.logs);
    for (const DemoAccount& account : summary.accounts) {
      std::fprintf(stderr, "docsec-server: demo account %-12s password %-12s %s\n",
                   account.id.c_str(), account.password.c_str(), account.role.c_str());
    }
  } else if (!server->initial_admin_password().empty()) {
    std::fprintf(stderr, "docsec-server: new database: account admin, password %s\n",
                 server->initial_admin_password().c_str());
  }

  HttpOptions http;
  http.address = line.address;
  http.port = line.port;
  http.tls_cert = line.tls_cert;
  http.tls_key = line.tls_key;
  HttpServer listener(*server, http);
  if (!listener.Start(&error)) {
    std::fprintf(stderr, "docsec-server: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "docsec-server: listening on %s://%s:%d\n",
               line.tls_cert.empty() ? "http" : "https", line.address.c_str(), listener.port());
  while (g_stop_signal == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::fprintf(stderr, "docsec-server: signal %d, stopping\n", static_cast<int>(g_stop_signal));
  listener.Stop();
  std::fprintf(stderr, "docsec-server: stopped\n");
  return 0;
}
