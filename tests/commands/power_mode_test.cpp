// Power and mode commands against the virtual pack: requests and payloads on
// the wire, their timing, captions and status texts.
#include "core/commands/power_mode.h"

#include <gtest/gtest.h>

#include "command_fixture.h"
#include "core/link/frame.h"

namespace bms::testing {
namespace {

using sim::HostMessage;

class PowerModeTest : public CommandFixture {};
class PowerModeSilentTest : public CommandFixture {
 protected:
  PowerModeSilentTest() : CommandFixture(SilentPack()) {}
};

struct PowerDownCase {
  const char* name;
  void (*click)(Context&);
  uint16_t address;
  Control TFormMain::*button;
  bool button_after_command_buttons;  // the product tab's Deep Sleep comes back last
};

class PowerDownTest : public PowerModeSilentTest, public ::testing::WithParamInterface<PowerDownCase> {};

TEST_P(PowerDownTest, SendsTheRequestAwaitsNothingAndEndsWithStop) {
  const PowerDownCase& c = GetParam();
  c.click(ctx);

  const auto msgs = messages();
  ASSERT_EQ(msgs.size(), 1u) << wire.dump();
  EXPECT_EQ(msgs[0].kind, HostMessage::Request);
  EXPECT_EQ(msgs[0].address, c.address);
  EXPECT_EQ(msgs[0].length, 0);
  EXPECT_EQ(msgs[0].param, 0u);
  EXPECT_EQ(msgs[0].write_count, 0);
  EXPECT_TRUE(wire.pack_bytes().empty());
  // 100 ms before the request, 100 ms after it, 100 ms after closing; no read.
  EXPECT_EQ(msgs[0].t_us / 1000, 100);
  EXPECT_EQ(clock.now_ms(), 300 + sim::kFrameWriteMs);

  TFormMain& m = ctx.FormMain;
  EXPECT_EQ(m.StatusBarView.item(0), kSysStop);
  EXPECT_TRUE((m.*c.button).enabled());
  EXPECT_TRUE(m.SpdBtnRUN.enabled());
  const std::string button = (m.*c.button).name();
  const int disabled = ui.find(button, Prop::Enabled, false);
  const int back = ui.find(button, Prop::Enabled, true, disabled);
  const int stop = ui.find("StatusBarView", Prop::Items, std::vector<std::string>{kSysStop, "", "", ""});
  ASSERT_GE(disabled, 0);
  ASSERT_GE(back, 0);
  ASSERT_GE(stop, 0);
  EXPECT_EQ(back > stop, c.button_after_command_buttons);
}

INSTANTIATE_TEST_SUITE_P(Buttons, PowerDownTest,
                         ::testing::Values(PowerDownCase{"Sleep", SpdBtnSleepClick, 0x4205, &TFormMain::SpdBtnSleep, false},
                                           PowerDownCase{"DeepSleep", SpdBtnDeepSleepClick, 0x4206, &TFormMain::SpdBtnDeepSleep, false},
                                           PowerDownCase{"LITDeepSleep", SpdBtnLITDeepSleepClick, 0x4206, &TFormMain::SpdBtnLITDeepSleep, true}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(PowerModeTest, SleepWithAPortThatCannotOpenSendsNothingAndStillEndsWithStop) {
  ctx.PortName.set("/dev/no-such-port");
  EXPECT_FALSE(SleepWorker(ctx));
  EXPECT_TRUE(wire.entries().empty());
  EXPECT_EQ(ctx.FormMain.StatusBarView.item(0), kSysStop);
  EXPECT_TRUE(ctx.FormMain.SpdBtnSleep.enabled());
  EXPECT_FALSE(ctx.LinkError.get().empty());
}

struct ShippingSetCase {
  bool checked;
  Bytes8 payload;
};

class ShippingSetTest : public PowerModeTest, public ::testing::WithParamInterface<ShippingSetCase> {};

TEST_P(ShippingSetTest, PayloadFollowsTheCheckBox) {
  const ShippingSetCase& c = GetParam();
  pack.set_shipping_mode(!c.checked);
  ctx.FormMain.CheckBoxSippingMode.set_checked(c.checked);
  EXPECT_TRUE(ShippingModeSetWorker(ctx));

  const auto msgs = messages();
  ASSERT_EQ(msgs.size(), 2u) << wire.dump();
  EXPECT_EQ(msgs[0].address, 0x4209);
  EXPECT_EQ(msgs[0].write_count, 1);
  EXPECT_EQ(msgs[1].kind, HostMessage::Payload);
  EXPECT_EQ(DataOf(msgs[1]), c.payload);
  EXPECT_EQ(gap_ms(msgs[0], msgs[1]), 100);
  EXPECT_EQ(pack.shipping_mode(), c.checked);
  EXPECT_TRUE(ctx.FormMain.SpdBtnShippingModeSet.enabled());
}

INSTANTIATE_TEST_SUITE_P(CheckBox, ShippingSetTest, ::testing::Values(ShippingSetCase{false, {0, 0, 0, 0, 0, 0, 0, 0}}, ShippingSetCase{true, {0x01, 0, 0, 0, 0, 0, 0, 0}}));

TEST_F(PowerModeSilentTest, ShippingSetWithoutEchoShowsNothing) {
  ctx.FormMain.CheckBoxSippingMode.set_checked(true);
  EXPECT_FALSE(ShippingModeSetWorker(ctx));
  EXPECT_EQ(ctx.FormMain.SpdBtnShippingModeSet.text(), "Set");
  EXPECT_TRUE(ctx.FormMain.CheckBoxSippingMode.checked());
}

TEST_F(PowerModeSilentTest, ShippingGetAgainstASilentPackTriesExactlyThreeTimes) {
  ctx.FormMain.CheckBoxSippingMode.set_checked(true);
  const int64_t start = clock.now_ms();
  EXPECT_FALSE(ShippingModeGetWorker(ctx));

  const auto reqs = requests();
  ASSERT_EQ(reqs.size(), 3u) << wire.dump();
  for (const auto& r : reqs) {
    EXPECT_EQ(r.address, 0x200B);
    EXPECT_EQ(r.length, 0);
    EXPECT_EQ(r.write_count, 0);
  }
  // Each try: request, 100 ms, the reply read's full time-out (10120 ms), 300 ms.
  EXPECT_EQ(gap_ms(reqs[0], reqs[1]), 100 + 10120 + 300);
  EXPECT_EQ(gap_ms(reqs[1], reqs[2]), 100 + 10120 + 300);
  EXPECT_EQ(clock.now_ms() - start, 3 * (sim::kFrameWriteMs + 100 + 10120 + 300));
  // A failed get changes nothing.
  EXPECT_TRUE(ctx.FormMain.CheckBoxSippingMode.checked());
  EXPECT_TRUE(ctx.FormMain.SpdBtnShippingModeGet.enabled());
}

TEST_F(PowerModeTest, ShippingGetShowsThePackStateInBothBoxes) {
  pack.set_shipping_mode(true);
  pack.faults().add(sim::Fault::Make(sim::FaultMatch::Register(0x200B), sim::FaultAction::Silence, sim::FaultTrigger::First(1)));
  EXPECT_TRUE(ShippingModeGetWorker(ctx));
  EXPECT_EQ(requests_to(0x200B).size(), 2u);
  EXPECT_TRUE(ctx.FormMain.CheckBoxSippingMode.checked());
  EXPECT_TRUE(ctx.FormMain.CheckBox_Shipping_Mode_Read_Only.checked());
}

struct ModeSetCase {
  const char* name;
  Control TFormMain::*box;
  Control TFormMain::*button;
  uint16_t address;
  bool checked;
  Bytes8 payload;
  const char* box_caption;
};

class ModeSetTest : public PowerModeTest, public ::testing::WithParamInterface<ModeSetCase> {};

TEST_P(ModeSetTest, PayloadFollowsTheTickNotTheCaptionAndTheCaptionGetsOk) {
  const ModeSetCase& c = GetParam();
  TFormMain& m = ctx.FormMain;
  if (c.checked) (m.*c.box).click();  // the operator ticks the box
  EXPECT_EQ((m.*c.box).text(), c.box_caption);
  (m.*c.button).click();

  const auto msgs = messages();
  ASSERT_EQ(msgs.size(), 2u) << wire.dump();
  EXPECT_EQ(msgs[0].address, c.address);
  EXPECT_EQ(msgs[0].write_count, 1);
  EXPECT_EQ(DataOf(msgs[1]), c.payload);
  EXPECT_EQ(gap_ms(msgs[0], msgs[1]), 100);
  EXPECT_EQ((m.*c.button).text(), "Set : OK");
  EXPECT_TRUE((m.*c.button).enabled());
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, ModeSetTest,
    ::testing::Values(ModeSetCase{"GatewayChecked", &TFormMain::CheckBox_GatewayMode, &TFormMain::SpeedButton_GatewayMode, 0x0F00, true, {0x01, 0, 0, 0, 0, 0, 0, 0}, "Normal"},
                      ModeSetCase{
                          "GatewayUnchecked", &TFormMain::CheckBox_GatewayMode, &TFormMain::SpeedButton_GatewayMode, 0x0F00, false, {0x00, 0, 0, 0, 0, 0, 0, 0}, "Transparent"},
                      ModeSetCase{"MosfetChecked", &TFormMain::CheckBox_MOSFETSW, &TFormMain::SpeedButton_MOSFETSW, 0x000E, true, {0xFF, 0x20, 0, 0, 0, 0, 0, 0}, "OFF"},
                      ModeSetCase{"MosfetUnchecked", &TFormMain::CheckBox_MOSFETSW, &TFormMain::SpeedButton_MOSFETSW, 0x000E, false, {0xFF, 0x10, 0, 0, 0, 0, 0, 0}, "ON"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(PowerModeTest, CheckBoxCaptionsFollowEveryClick) {
  TFormMain& m = ctx.FormMain;
  const struct {
    Control& box;
    const char* checked;
    const char* unchecked;
  } boxes[] = {{m.CheckBox_GatewayMode, "Normal", "Transparent"}, {m.CheckBox_MOSFETSW, "OFF", "ON"}};
  for (const auto& b : boxes) {
    b.box.click();
    EXPECT_EQ(b.box.text(), b.checked);
    b.box.click();
    EXPECT_EQ(b.box.text(), b.unchecked);
  }
  EXPECT_TRUE(wire.entries().empty());
}

TEST_F(PowerModeSilentTest, GatewayTwiceWithoutAPackAccumulatesNg) {
  ctx.FormMain.SpeedButton_GatewayMode.click();
  ctx.FormMain.SpeedButton_GatewayMode.click();
  EXPECT_EQ(ctx.FormMain.SpeedButton_GatewayMode.text(), "Set : NG : NG");
  EXPECT_EQ(requests_to(0x0F00).size(), 2u);
}

TEST_F(PowerModeTest, GatewayWithAPortThatCannotOpenKeepsItsCaption) {
  ctx.PortName.set("/dev/no-such-port");
  EXPECT_FALSE(GatewayModeWorker(ctx));
  EXPECT_EQ(ctx.FormMain.SpeedButton_GatewayMode.text(), "Set");
  EXPECT_TRUE(ctx.FormMain.SpeedButton_GatewayMode.enabled());
  EXPECT_TRUE(ctx.FormMain.SpdBtnRUN.enabled());
}

TEST_F(PowerModeTest, AClickThatCannotStartItsWorkerGivesConfigureBack) {
  ctx.FormMain.SpdBtnConfigure.set_enabled(false);
  ctx.workers.refuse_new();
  SpdBtnSleepClick(ctx);
  EXPECT_TRUE(ctx.FormMain.SpdBtnConfigure.enabled());
  EXPECT_TRUE(wire.entries().empty());
}

TEST_F(PowerModeTest, ProductionHelpersUseTheOpenPortAndTheirWaits) {
  ASSERT_TRUE(OpenLinkPort(ctx));
  int64_t t = clock.now_ms();
  SendSleep(ctx);
  EXPECT_EQ(clock.now_ms() - t, 200 + sim::kFrameWriteMs);
  t = clock.now_ms();
  SendDeepSleep(ctx);
  EXPECT_EQ(clock.now_ms() - t, 100 + sim::kFrameWriteMs);
  pack.wake();
  EXPECT_TRUE(SetShippingModeOn(ctx));
  EXPECT_TRUE(LinkPortOpen(ctx));  // the helpers leave the port to their caller
  CloseLinkPort(ctx);

  const auto msgs = messages();
  ASSERT_EQ(msgs.size(), 4u) << wire.dump();
  EXPECT_EQ(msgs[0].address, 0x4205);
  EXPECT_EQ(msgs[1].address, 0x4206);
  EXPECT_EQ(msgs[2].address, 0x4209);
  EXPECT_EQ(msgs[2].write_count, 1);
  EXPECT_EQ(DataOf(msgs[3]), (Bytes8{0x01, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(gap_ms(msgs[2], msgs[3]), 100);
  EXPECT_TRUE(pack.shipping_mode());
  EXPECT_EQ(ctx.FormMain.StatusBarView.item(0), kSysLink);  // no control is touched by the helpers
}

TEST_F(PowerModeSilentTest, SetShippingModeOnWithoutEchoIsFalse) {
  ASSERT_TRUE(OpenLinkPort(ctx));
  EXPECT_FALSE(SetShippingModeOn(ctx));
  CloseLinkPort(ctx);
}

}  // namespace
}  // namespace bms::testing
