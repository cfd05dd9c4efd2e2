// The SOC table file of the parameter window: 101 values, one per line.
// A file is taken whole or not at all; the values taken hold none of the
// bytes the reader drops; and the table written back out as text reads in
// again to the same edits.
#include <string>

#include "core/parameters/eep2.h"
#include "fuzz_support.h"

using namespace bms;
using namespace bms::fuzz;

BMS_FUZZ_TARGET(soc_table) {
  Input in(data, size);
  in.u8();  // mode byte: the table has no checksum
  Bench b;
  Context& ctx = b.ctx;
  const std::string path = WriteScratch("soc_table.txt", in.text_rest());
  auto& edits = ctx.Form_EEP_PARAMETER.EditSOC;
  for (Control* c : edits) c->set_text("untouched");
  const auto lines_before = ctx.SocTableLines.get();

  std::string why;
  int found = -1;
  const int last = ReadSocTableFile(ctx, path, &why, &found);
  BMS_FUZZ_CHECK(last == -1 || last == 100, "ReadSocTableFile returned " + std::to_string(last));
  BMS_FUZZ_CHECK((last == 100) == (found == 101), std::to_string(found) + " values found");
  const auto lines = ctx.SocTableLines.get();
  if (last != 100) {
    BMS_FUZZ_CHECK(!why.empty(), "a refused table says nothing");
    BMS_FUZZ_CHECK(lines == lines_before, "a refused table changed the lines");
    BMS_FUZZ_CHECK(!ApplySocTableFile(ctx, path, &why), "a refused table was applied");
    for (Control* c : edits) BMS_FUZZ_CHECK(c->text() == "untouched", "a refused table changed " + c->name());
    return 0;
  }
  for (const std::string& l : lines) {
    BMS_FUZZ_CHECK(!l.empty(), "an empty value was taken");
    BMS_FUZZ_CHECK(l.find_first_of(std::string("\r\n \0", 4)) == std::string::npos, "a value holds a dropped byte");
  }
  BMS_FUZZ_CHECK(ApplySocTableFile(ctx, path, &why), "an accepted table was not applied: " + why);
  for (int k = 0; k <= 100; ++k) BMS_FUZZ_CHECK(edits[k]->text() == lines[static_cast<size_t>(100 - k)], "EditSOC" + std::to_string(k));

  const std::string again = WriteScratch("soc_table_again.txt", SocTableText(ctx));
  for (Control* c : edits) c->set_text("untouched");
  BMS_FUZZ_CHECK(ApplySocTableFile(ctx, again, &why), "the table written out does not read in again: " + why);
  for (int k = 0; k <= 100; ++k) BMS_FUZZ_CHECK(edits[k]->text() == lines[static_cast<size_t>(100 - k)], "EditSOC" + std::to_string(k) + " after the round trip");
  return 0;
}
