// probe [DEPT | COMPUTER...] [--parallel N]: the agent connection status of every computer of a
// sub-tree, or of the computers named.
//
// JSON (--json): {"computers": [{"name", "ip", "department", "status", "statusCode",
// "cause", "seconds"}], "parallel", "wallSeconds", "serialSeconds"}; "serialSeconds" is the sum
// of the probes' own times, what probing one after another would have taken.
//
// The exit status says whether every agent answered: 0 when all did (or there was none to
// probe), 4 when any did not, however many; a computer not approved is not probed, so it counts
// as not answering. (3 stays for a command that could not reach the one agent it needed.)
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "docsec/computers/computer.h"
#include "tools/cli/commands.h"
#include "tools/cli/probe.h"

namespace docsec::cli {
namespace {

constexpr int kDefaultParallel = 16;

std::string Seconds(double seconds, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f s", digits, seconds);
  return text;
}

// The computers `names` stand for: each a department (its whole sub-tree) or a computer by name,
// IP address or UUID; none: the administered tree. Each computer once, in the order named.
std::vector<CDOComputer*> Targets(Context& context, const std::vector<std::string>& names) {
  if (names.empty()) return ComputersOfSubTree(&context.Tree());
  std::vector<CDOComputer*> computers;
  auto add = [&computers](CDOComputer* computer) {
    if (std::find(computers.begin(), computers.end(), computer) == computers.end()) {
      computers.push_back(computer);
    }
  };
  for (const std::string& name : names) {
    // A department's name wins; an ambiguous one is the person's to settle.
    const std::vector<CDODepartment*> departments = context.MatchDepartments(name);
    if (!departments.empty()) {
      CDODepartment& department = Context::PickOne(departments, "department", name);
      for (CDOComputer* computer : ComputersOfSubTree(&department)) add(computer);
      continue;
    }
    const std::vector<CDOComputer*> matched = context.MatchComputers(name);
    if (matched.empty()) Fail(kExitUsage, "no department or computer \"" + name + "\" in the tree");
    add(&Context::PickOne(matched, "computer", name));
  }
  return computers;
}

void RunProbe(Context& context, const std::vector<std::string>& names, int parallel) {
  const std::vector<CDOComputer*> computers = Targets(context, names);
  Output& output = context.output();
  ProgressLine progress(output.err(), context.err_terminal());
  ProbeOptions options;
  options.parallel = parallel;
  options.progress = [&](const ProbeRow& row, size_t done, size_t total) {
    progress.Bar(done, total, row.name);
  };
  const ProbeReport report = ProbeComputers(computers, options);
  progress.Clear();
  // Fewer sockets at once than asked (the descriptor limit) makes a probe slower, not wrong.
  if (!report.note.empty()) output.err() << "docsec: " << report.note << "\n";

  Table table({{"name", "NAME"},
               {"ip", "ADDRESS"},
               {"department", "DEPARTMENT"},
               {"status", "STATUS"},
               {"seconds", "TIME"},
               {"cause", "CAUSE"}});
  std::map<std::string, int> counts;
  size_t running = 0;
  for (const ProbeRow& row : report.rows) {
    ++counts[row.status];
    running += row.status_code == ConnectionRunning && row.status != "not approved" ? 1 : 0;
    Json record = {
        {"name", row.name},
        {"ip", row.address},
        {"department", "/" + row.department_path},
        {"status", row.status},
        {"cause", row.status == "not approved"
                      ? "not probed: approve it first (docsec computer approve " + row.name + ")"
                      : row.cause}};
    if (output.json()) {
      record["statusCode"] = row.status_code;
      record["seconds"] = row.seconds;
    } else {
      record["seconds"] = Seconds(row.seconds, 3);
    }
    table.Add(std::move(record));
  }
  if (output.json()) {
    output.PrintJsonOnly({{"computers", table.rows()},
                          {"parallel", parallel},
                          {"wallSeconds", report.wall_seconds},
                          {"serialSeconds", report.serial_seconds}});
  } else {
    output.PrintTable(table);
    std::string summary;
    for (const auto& [status, count] : counts) {
      summary += (summary.empty() ? "" : ", ") + std::to_string(count) + " " + status;
    }
    output.Say(std::to_string(report.rows.size()) + " computer(s) probed in " +
               Seconds(report.wall_seconds, 2) + " with " + std::to_string(parallel) +
               " at once (one after another: " + Seconds(report.serial_seconds, 2) + ")" +
               (summary.empty() ? "" : ": " + summary));
  }
  const size_t silent = report.rows.size() - running;
  if (silent == 0) return;
  Fail(kExitPartial, std::to_string(silent) + " of " + std::to_string(report.rows.size()) +
                         " computer(s) did not answer as running");
}

}  // namespace

void RegisterProbeCommand(CLI::App& app, Context& context) {
  auto* probe =
      app.add_subcommand("probe", "probe the agents of a department sub-tree or of computers");
  auto names = std::make_shared<std::vector<std::string>>();
  auto parallel = std::make_shared<int>(kDefaultParallel);
  probe->add_option("TARGET", *names,
                    "departments (id, path or name: their sub-trees) or computers (name, IP "
                    "address or UUID); default: the administered tree");
  probe
      ->add_option("--parallel", *parallel,
                   "threads asking agents for their status at once (default 16); connections are "
                   "made many at once regardless")
      ->check(CLI::Range(1, 256));
  probe->callback([&context, names, parallel] { RunProbe(context, *names, *parallel); });
}

}  // namespace docsec::cli
