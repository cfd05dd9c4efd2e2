#pragma once
// The engineering password dialog: a monthly password built from the date.
#include <string>

#include "core/context.h"

namespace bms {

// The six digits of year and month, sorted ascending (engineering) or
// descending (production test).
std::string ExpectedPassword(const LocalTime& date, bool production_test);

void BitBtn_YesClick(Context& ctx);
void BitBtn_NoClick(Context& ctx);
void FormENGPasswordClose(Context& ctx);
void WirePasswordDialog(Context& ctx);

}  // namespace bms
