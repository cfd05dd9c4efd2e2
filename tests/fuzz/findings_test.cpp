// Faults the fuzz targets found in the core, each pinned by the smallest
// case that shows it (the inputs themselves are in fuzz/corpus/).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/link/gateway.h"
#include "core/platform/ini.h"
#include "core/production_test/test_plan.h"
#include "fuzz_support.h"

namespace bms::fuzz {
namespace {

// A file whose last line ends in a bare CR: the reader takes that CR as the
// line's end, so a write elsewhere must not turn it into part of the value,
// nor glue a new line onto it.
TEST(FuzzFindings, AWriteKeepsTheValueOfALastLineEndingInABareCr) {
  struct Case {
    const char* name;
    std::string file;
    std::string section, key;  // the key written (value "2")
    std::string file_after;
  } cases[] = {
      {"new section after the bare CR", "[A]\r\nk=1\r", "B", "x", "[A]\r\nk=1\r\n\r\n[B]\r\nx=2\r\n"},
      {"new key after the bare CR", "[A]\r\nk=1\r", "A", "j", "[A]\r\nk=1\r\nj=2"},
      {"LF file, new section", "[A]\nk=1\r", "B", "x", "[A]\nk=1\r\n\n[B]\nx=2\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteScratch("bare_cr.ini", c.file);
    ASSERT_EQ(GetPrivateProfileString("A", "k", "-", path), "1");
    ASSERT_TRUE(WritePrivateProfileString(c.section, c.key, "2", path));
    EXPECT_EQ(GetPrivateProfileString("A", "k", "-", path), "1");
    EXPECT_EQ(GetPrivateProfileString(c.section, c.key, "-", path), "2");
    EXPECT_EQ(ReadWholeFile(path), c.file_after);
  }
}

// A gateway reply that came whole but whose read then failed (the adapter
// pulled right after it) is Short, and gives no value.
TEST(FuzzFindings, AGatewayReadThatFailsAfterTheReplyGivesNoValue) {
  GatewayFrame reply{0x55, 0xAA, 0x02, 0x02, 0x00, 0x00, 0x60, 0x15, 0x3C};
  reply[17] = GatewayCrc8(&reply[2], 15);
  reply[18] = 0x0D;
  for (const bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "read fails" : "read succeeds");
    auto wire = std::make_shared<FuzzWire>();
    wire->bursts.push_back(Burst{{reply.begin(), reply.end()}, fails});
    FuzzPort port(wire);
    ASSERT_TRUE(port.open(kFuzzPortName));
    uint8_t value = 0xEE;
    GatewayReply check = GatewayReply::NoReply;
    EXPECT_EQ(ReadGatewayReply(port, 0x60, 0x15, &value, &check), !fails);
    EXPECT_EQ(check, fails ? GatewayReply::Short : GatewayReply::Valid);
    EXPECT_EQ(value, fails ? 0x00 : 0x3C);
  }
}

// A real of the plan is stored as a 32-bit float: a value beyond its range
// is refused as a conversion error, not loaded as infinity.
TEST(FuzzFindings, APlanRealBeyondTheFloatRangeIsRefused) {
  struct Case {
    const char* text;
    bool ok;
  } cases[] = {{"3.4e38", true}, {"-3.4e38", true}, {"1e39", false}, {"-1e39", false}, {"1e300", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Bench b;
    const PlanLoadResult r = LoadTestPlan(b.ctx, WriteScratch("plan.ini", std::string("[Set]\r\nfBtyDsgLOADCurrent=") + c.text + "\r\n"));
    EXPECT_EQ(r.ok, c.ok) << r.error;
    if (c.ok) {
      EXPECT_FLOAT_EQ(b.ctx.EVT_TEST.get().fBtyDsgLOADCurrent, std::stof(c.text));
    } else {
      EXPECT_NE(r.error.find("\"fBtyDsgLOADCurrent\""), std::string::npos) << r.error;
    }
  }
}

}  // namespace
}  // namespace bms::fuzz
