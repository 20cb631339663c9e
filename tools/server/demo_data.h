// Demo data for the reference server: a small organisation several levels deep with users of
// known passwords, positions, appointments, computers, secret levels 1 to 5 (5 the default),
// applications, policies, default levels, IP segments, a few hundred operation logs, scan logs
// and scan settings. The computers' UUIDs and addresses are a parameter, so a demo can start
// reference agents with the same identities. Also a generator of large organisations for
// benchmarks.
//
// Thread safety: seeding runs in one write transaction; the server may serve meanwhile.
#ifndef DOCSEC_TOOLS_SERVER_DEMO_DATA_H_
#define DOCSEC_TOOLS_SERVER_DEMO_DATA_H_

#include <string>
#include <vector>

#include "tools/server/server.h"

namespace docsec::server {

struct DemoComputer {
  std::string uuid;
  std::string ip;  // dotted IPv4, normally a loopback address 127.0.0.x
  std::string name;
};

struct DemoOptions {
  // The managed computers; empty gives DefaultDemoComputers().
  std::vector<DemoComputer> computers;
  // Operation logs in the current log database (a tenth as many again go to the archive).
  int log_count = 300;
  // The enterprise key offline logins receive, 32 hexadecimal digits; empty gives a fixed one.
  std::string enterprise_key;
};

struct DemoAccount {
  std::string id;
  std::string password;
  std::string role;  // one line for people: what the account may do
};

struct DemoSummary {
  std::vector<DemoAccount> accounts;
  std::string enterprise_key;
  int departments = 0;
  int users = 0;
  int computers = 0;
  int logs = 0;
};

// Six computers at 127.0.0.11 to 127.0.0.16 with fixed UUIDs.
std::vector<DemoComputer> DefaultDemoComputers();

// Seeds the demo into a database that holds only what the server made on its first start. False
// with a reason in *error (and nothing stored) otherwise. The admin account gets a demo password.
bool SeedDemo(Server& server, const DemoOptions& options, DemoSummary* summary, std::string* error);

// Seeds about `objects` objects (departments four levels deep, positions, users without
// passwords, computers) under the top department, for benchmarks. False with a reason on failure.
bool SeedLargeOrganisation(Server& server, int objects, std::string* error);

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_DEMO_DATA_H_
