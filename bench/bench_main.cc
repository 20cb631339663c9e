// The benchmark program's entry point. Unless DOCSEC_BENCH_DEFAULT_MALLOC is set, the allocator is
// told to keep freed memory in the process, as a long-running console or agent would be tuned:
// on virtual machines, memory handed back to the system and touched again costs page faults that
// dwarf the work being measured, and they would fall on whichever side of a comparison happens to
// allocate afresh. Both sides of every comparison run under the same setting.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const bool keep_memory = std::getenv("DOCSEC_BENCH_DEFAULT_MALLOC") == nullptr;
  if (keep_memory) {
    mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext("allocator", keep_memory ? "keeps freed memory" : "glibc default");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
