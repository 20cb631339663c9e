#include "tools/cli/probe.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "docsec/channel/outcome.h"
#include "docsec/computers/computer.h"
#include "docsec/computers/connection_probe.h"
#include "docsec/org/department.h"

namespace docsec::cli {
namespace {

using Clock = std::chrono::steady_clock;

template <class T>
std::string Text(T* object, int (T::*get)(char*, unsigned long)) {
  char buffer[1024] = {};
  const int size = (object->*get)(buffer, sizeof buffer);
  return std::string(buffer, size > 0 ? static_cast<size_t>(size) : 0);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// What the row shows about the computer, read before the probes start: the workers touch nothing
// of the tree but their own computer's connection status.
ProbeRow Describe(CDOComputer* computer) {
  ProbeRow row;
  row.name = Text(computer, &CDOComputer::GetName);
  row.address = Text(computer, &CDOComputer::GetIp);
  if (CDODepartment* department = computer->GetOwnerDepartment()) {
    row.department_path = Text(department, &CDODepartment::GetFullPath);
  }
  return row;
}

void ProbeOne(CDOComputer* computer, bool approved, ProbeRow* row) {
  if (!approved) {
    row->status = "not approved";
    row->status_code = computer->GetConnectionStatus();
    return;
  }
  const Clock::time_point start = Clock::now();
  computer->RefreshConnectionStatus();
  row->seconds = Seconds(Clock::now() - start);
  row->status_code = computer->GetConnectionStatus();
  row->status = ConnectionStatusText(row->status_code);
  if (row->status_code != ConnectionRunning) row->cause = LastOutcome().message;
}

// The older way: each worker takes a computer through its whole probe.
void ProbeByWorkers(const std::vector<CDOComputer*>& computers, const std::vector<bool>& approved,
                    const ProbeOptions& options, ProbeReport* report) {
  std::atomic<size_t> next{0};
  std::mutex mutex;
  size_t done = 0;
  auto work = [&] {
    for (size_t i = next++; i < computers.size(); i = next++) {
      ProbeRow row = report->rows[i];
      ProbeOne(computers[i], approved[i], &row);
      std::lock_guard<std::mutex> lock(mutex);
      report->rows[i] = row;
      report->serial_seconds += row.seconds;
      ++done;
      if (options.progress) options.progress(report->rows[i], done, computers.size());
    }
  };
  const size_t workers =
      std::min(computers.size(), static_cast<size_t>(std::max(1, options.parallel)));
  std::vector<std::thread> threads;
  // The caller's thread is one of the workers, so a single worker starts no thread.
  for (size_t i = 1; i < workers; ++i) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
}

void ProbeTogether(const std::vector<CDOComputer*>& computers, const std::vector<bool>& approved,
                   const ProbeOptions& options, ProbeReport* report) {
  // A computer not approved is not handed over.
  std::vector<CDOComputer*> handed(computers.size(), nullptr);
  for (size_t i = 0; i < computers.size(); ++i) {
    if (approved[i]) handed[i] = computers[i];
  }
  ConnectionProbeOptions probe;
  probe.in_flight = options.in_flight;
  probe.workers = std::max(1, options.parallel);
  size_t done = 0;
  // Called one at a time, on the thread that finished the probe.
  probe.done = [&](size_t index) {
    ++done;
    ProbeRow& row = report->rows[index];
    row.status_code = computers[index]->GetConnectionStatus();
    row.status = ConnectionStatusText(row.status_code);
    if (options.progress) options.progress(row, done, computers.size());
  };
  const ConnectionProbeReport probed = RefreshConnectionStatuses(handed, probe);
  report->note = probed.note;
  for (size_t i = 0; i < computers.size(); ++i) {
    const ConnectionProbeResult& result = probed.results[i];
    ProbeRow& row = report->rows[i];
    if (result.probed) {
      row.seconds = result.seconds;
      row.cause = result.cause;
      report->serial_seconds += result.seconds;
      continue;
    }
    // Not approved, or nothing to probe with: the row says what the computer's status is.
    ProbeOne(computers[i], false, &row);
    if (approved[i]) row.status = ConnectionStatusText(row.status_code);
    ++done;
    if (options.progress) options.progress(row, done, computers.size());
  }
}

}  // namespace

const char* ConnectionStatusText(int status) {
  switch (status) {
    case ConnectionRunning: return "running";
    case ConnectionAgentNotRunning: return "agent not running";
    case ConnectionPingFailed: return "no ping answer";
    default: return "not probed";
  }
}

std::vector<CDOComputer*> ComputersOfSubTree(CDODepartment* top) {
  std::vector<CDOComputer*> computers;
  if (top == nullptr) return computers;
  DataObjectList* found = top->SearchComputers(nullptr, nullptr, -1, 1);
  if (found == nullptr) return computers;
  for (CDataObject* object : *found) computers.push_back(static_cast<CDOComputer*>(object));
  ShallowDelete(found);
  return computers;
}

ProbeReport ProbeComputers(const std::vector<CDOComputer*>& computers,
                           const ProbeOptions& options) {
  ProbeReport report;
  std::vector<bool> approved;
  for (CDOComputer* computer : computers) {
    report.rows.push_back(Describe(computer));
    approved.push_back(computer->GetIsApproved());
  }
  const Clock::time_point start = Clock::now();
  if (options.in_flight == 0) {
    ProbeByWorkers(computers, approved, options, &report);
  } else {
    ProbeTogether(computers, approved, options, &report);
  }
  report.wall_seconds = Seconds(Clock::now() - start);
  return report;
}

}  // namespace docsec::cli
