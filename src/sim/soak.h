#pragma once
// The seeded fault soak: the polling loop with its data log, a history read
// in turn every hour and production tests in a parallel session, against the virtual pack in virtual time, for
// hours of that time, with a seeded mix of line faults. The pack's values move every cycle; every row of the log is
// compared cell by cell with what the pack sent in that cycle. Toolkit-free.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace bms::sim {

enum class SoakFault {
  Drop,       // the request is not heard: no answer
  BitFlip,    // one bit of the answer inverted
  Inserted,   // one stray byte inside the answer
  Duplicate,  // the answer sent twice
  Truncated,  // the last bytes of the answer missing
  Late,       // the answer starts late (up to past the read time-out)
  Gap,        // a pause inside the answer, longer than the interval rule
  Silence,    // the pack hears nothing for a while
  Unplug,     // the adapter is pulled; the operator plugs it in and presses RUN again
};
inline constexpr size_t kSoakFaultKinds = 9;
const char* SoakFaultName(SoakFault f);

struct SoakOptions {
  uint32_t seed = 1;
  double hours = 24;      // virtual hours
  double rate = 0.05;     // chance that a fault is armed after a recovered cycle
  std::string folder;     // for the logs; empty: a temporary folder, removed afterwards
  bool progress = false;  // a line per virtual hour on stderr
};

struct ResourceSample {
  int64_t virtual_ms = 0;
  int fds = 0;
  int threads = 0;
  int64_t rss_kib = 0;
};

// Descriptors, threads and resident memory of this process now (Linux /proc).
ResourceSample SampleResources();

struct SoakReport {
  uint32_t seed = 0;
  double virtual_hours = 0;
  uint64_t cycles = 0;
  uint64_t completed_cycles = 0;
  uint64_t rows = 0;
  uint64_t runs = 0;  // RUN presses (1 + one per unplug)
  std::array<uint64_t, kSoakFaultKinds> injected{};
  uint64_t history_reads = 0;  // LEAD block reads in turn with the polling
  uint64_t history_records = 0;
  std::array<uint64_t, kSoakFaultKinds> history_faults{};
  uint64_t history_spoiled = 0;  // records read with a broken checksum
  uint64_t production_runs = 0;  // production tests in the parallel session
  uint64_t production_passes = 0;
  uint64_t production_reports = 0;
  std::array<uint64_t, kSoakFaultKinds> production_faults{};
  uint64_t recoveries = 0;
  int worst_recovery_cycles = 0;
  std::array<int, kSoakFaultKinds> worst_recovery_by_kind{};
  ResourceSample start, first_hour, end;
  std::vector<ResourceSample> hourly;
  double real_seconds = 0;
  uint64_t violations = 0;
  std::string first_violation;  // empty: none
  int64_t first_violation_ms = -1;

  bool ok() const { return violations == 0; }
  // The figures, one per line.
  std::string text() const;
};

SoakReport RunSoak(const SoakOptions& options);

}  // namespace bms::sim
