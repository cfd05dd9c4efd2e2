#pragma once
// Plain records of the firmware data transfers and the cell-resistance
// group, kept in the Context.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace bms {

// How the last transfer of one kind ended, for the window and the CLI.
struct TransferOutcome {
  int finished = 0;         // counts finished transfers of this kind
  bool refused = false;     // bad input: nothing was sent
  bool skipped = false;     // polling did not run: nothing was done
  bool ok = false;          // every page was answered (read) or echoed (write)
  std::string message;      // the text shown to the operator
  std::vector<int> failed;  // pages (or cells, or points) without an answer
};

enum class TransferKind { FwRead, FwWrite, FwLoad, SocvRead, SocvWrite, SocvLoad, CellRRead, CellRWrite, CellRLoad, Count };

struct ParameterState {
  std::array<uint8_t, 48> ProtectionImage{};  // six pages of eight bytes, built by the write
  std::string mtd_file;                       // the MTD.ini to load; empty: MTD.ini in the current folder
  std::array<TransferOutcome, static_cast<size_t>(TransferKind::Count)> outcome{};
};

}  // namespace bms
