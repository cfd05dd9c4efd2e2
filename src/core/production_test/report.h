#pragma once
// The files of a run: the text report (code page 950, CR LF, written
// atomically), the JSON record beside it and the station ledger.
#include <string>

#include "core/context.h"

namespace bms {

// SHA-256 of a file in lower-case hex; "" when it cannot be read.
std::string FileSha256(const std::string& path);

// Writes the report, the JSON record and the ledger line of the run that
// just ended and keeps the paths in the run's outcome. A file that cannot be
// written is named in status panel 2 with the reason; the run log stays in
// MemoLog and SaveEvtReportAgain writes it later.
void SaveEvtRecords(Context& ctx, const LocalTime& end, const std::string& verdict, const EvtTestSet& counters);

}  // namespace bms
