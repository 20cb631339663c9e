// probe [DEPT] [--parallel N]: the agent connection status of every computer of a sub-tree.
//
// JSON (--json): {"computers": [{"name", "ip", "department", "status", "statusCode",
// "seconds"}], "parallel", "wallSeconds", "serialSeconds"}; "serialSeconds" is the sum of the
// probes' own times, what probing one after another would have taken.
#include <cstdio>
#include <map>
#include <memory>

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

void RunProbe(Context& context, const std::string& department, int parallel) {
  CDODepartment& top = department.empty() ? context.Tree() : context.FindDepartment(department);
  const std::vector<CDOComputer*> computers = ComputersOfSubTree(&top);
  Output& output = context.output();
  ProgressLine progress(output.err(), context.err_terminal());
  ProbeOptions options;
  options.parallel = parallel;
  options.progress = [&](const ProbeRow& row, size_t done, size_t total) {
    progress.Bar(done, total, row.name);
  };
  const ProbeReport report = ProbeComputers(computers, options);
  progress.Clear();

  Table table({{"name", "NAME"},
               {"ip", "ADDRESS"},
               {"department", "DEPARTMENT"},
               {"status", "STATUS"},
               {"seconds", "TIME"}});
  std::map<std::string, int> counts;
  for (const ProbeRow& row : report.rows) {
    ++counts[row.status];
    Json record = {{"name", row.name},
                   {"ip", row.address},
                   {"department", "/" + row.department_path},
                   {"status", row.status}};
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
    return;
  }
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

}  // namespace

void RegisterProbeCommand(CLI::App& app, Context& context) {
  auto* probe =
      app.add_subcommand("probe", "probe the agent of every computer in a department sub-tree");
  auto department = std::make_shared<std::string>();
  auto parallel = std::make_shared<int>(kDefaultParallel);
  probe->add_option("DEPT", *department, "id, path or name (default: the administered tree)");
  probe->add_option("--parallel", *parallel, "probes run at once (default 16)")
      ->check(CLI::Range(1, 256));
  probe->callback([&context, department, parallel] { RunProbe(context, *department, *parallel); });
}

}  // namespace docsec::cli
