// The two line faults the soak adds to the virtual pack: one inverted bit
// and an answer sent twice, in both their forms (rule and text).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "sim_fixture.h"

namespace bms {
namespace {

using sim::Fault;
using sim::FaultAction;
using sim::FaultMatch;

class LineFaults : public SimFixture {
 protected:
  // The bytes the pack sent for one read of 0x1001 page 1.
  std::vector<uint8_t> Answer() {
    wire.clear();
    EXPECT_TRUE(OpenLinkPort(ctx));
    SendRequest(ctx, 0x1001, 1);
    AwaitReplyDecode(ctx);
    CloseLinkPort(ctx);
    std::vector<uint8_t> out;
    for (const auto& e : wire.pack_bytes()) out.insert(out.end(), e.bytes.begin(), e.bytes.end());
    return out;
  }
};

TEST_F(LineFaults, ABitFlipInvertsOneBitAndTheReplyIsRefused) {
  const std::vector<uint8_t> good = Answer();
  ASSERT_EQ(good.size(), 2 * kFrameSize);
  struct Case {
    size_t byte;
    uint8_t bit;
  } cases[] = {{0, 0}, {5, 3}, {11, 4}, {12, 2}, {20, 7}, {24, 1}, {25, 6}};
  for (const Case& c : cases) {
    pack.faults().clear();
    Fault f = Fault::Make(FaultMatch::Register(0x1001), FaultAction::BitFlip);
    f.at_byte = c.byte;
    f.value = c.bit;
    pack.faults().add(f);
    ctx.FormMain.EditVCell1.set_text("untouched");
    std::vector<uint8_t> want = good;
    want[c.byte] ^= static_cast<uint8_t>(1u << c.bit);
    EXPECT_EQ(Answer(), want) << "byte " << c.byte << " bit " << int{c.bit};
    // One bit anywhere in bytes 0 to 11 of a frame breaks its checksum; the
    // closing 0x0D of a frame has no check of its own.
    const bool frame_end = c.byte == 12 || c.byte == 25;
    EXPECT_EQ(ctx.FormMain.EditVCell1.text() == "untouched", !frame_end) << "byte " << c.byte;
  }
}

TEST_F(LineFaults, ADuplicatedAnswerComesTwiceBackToBackAndIsRefused) {
  const std::vector<uint8_t> good = Answer();
  pack.faults().add(Fault::Make(FaultMatch::Register(0x1001), FaultAction::Duplicate));
  ctx.FormMain.EditVCell1.set_text("untouched");
  std::vector<uint8_t> twice = good;
  twice.insert(twice.end(), good.begin(), good.end());
  EXPECT_EQ(Answer(), twice);
  EXPECT_EQ(ctx.FormMain.EditVCell1.text(), "untouched");  // 52 bytes are no reply
}

TEST(LineFaultText, FlipAndDuplicateParse) {
  Fault f;
  std::string error;
  ASSERT_TRUE(sim::ParseFaultText("0x1001/1:flip=20", f, nullptr, error)) << error;
  EXPECT_EQ(f.action, FaultAction::BitFlip);
  EXPECT_EQ(f.at_byte, 20u);
  EXPECT_EQ(f.value, 0);
  ASSERT_TRUE(sim::ParseFaultText("status:nth=2:duplicate", f, nullptr, error)) << error;
  EXPECT_EQ(f.action, FaultAction::Duplicate);
  EXPECT_FALSE(sim::ParseFaultText("any:flip", f, nullptr, error));
}

}  // namespace
}  // namespace bms
