// Clock and erase commands and the last-charge-date button against the
// virtual pack: payloads, passes, labels and the READ/STOP toggle.
#include "core/commands/clock_erase.h"

#include <gtest/gtest.h>

#include "command_fixture.h"
#include "core/commands/identity.h"

namespace bms::testing {
namespace {

using sim::Fault;
using sim::FaultAction;
using sim::FaultMatch;
using sim::FaultTrigger;

class ClockEraseTest : public CommandFixture {};

TEST(ClockPayloadTest, FieldsAreOneByteEachAndZeroFieldsStayInPlace) {
  const struct {
    LocalTime t;
    Bytes8 bytes;
  } cases[] = {
      {{2026, 12, 9, 0, 30, 15, 0}, {0x1A, 0x0C, 0x09, 0x00, 0x1E, 0x0F, 0x00, 0x00}},
      {{2000, 1, 1, 0, 0, 0, 0}, {0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {{2207, 12, 31, 23, 59, 59, 999}, {0xCF, 0x0C, 0x1F, 0x17, 0x3B, 0x3B, 0x00, 0x00}},
  };
  for (const auto& c : cases) EXPECT_EQ(ClockPayload(c.t), c.bytes) << c.t.year;
  const RtcStamp s = MakeRtcStamp({2026, 12, 9, 0, 30, 15, 0});
  EXPECT_EQ(s.Date, 20261209);
  EXPECT_EQ(s.Seconds, 30 * 60 + 15);
  EXPECT_EQ(ClockSentText({2026, 3, 4, 5, 6, 7, 0}), " 2026.03.04   05:06:07 ");
}

TEST_F(ClockEraseTest, RtcSetSendsThePcClockAndShowsIt) {
  pack.set_pack_clock({2031, 5, 6, 7, 8, 9, 0});
  ctx.FormMain.SpdBtnRTCSet.click();

  const auto msgs = messages();
  ASSERT_EQ(msgs.size(), 2u) << wire.dump();
  EXPECT_EQ(msgs[0].address, 0x4006);
  EXPECT_EQ(msgs[0].write_count, 6);
  EXPECT_EQ(DataOf(msgs[1]), (Bytes8{0x1A, 0x0C, 0x09, 0x00, 0x1E, 0x0F, 0x00, 0x00}));
  EXPECT_EQ(gap_ms(msgs[0], msgs[1]), 100);
  EXPECT_EQ(ctx.FormMain.EditRTC.text(), " 2026.12.09   00:30:15 ");
  const LocalTime p = pack.pack_clock();
  EXPECT_EQ(p.year, 2026);
  EXPECT_EQ(p.hour, 0);
  EXPECT_EQ(p.minute, 30);
  EXPECT_TRUE(ctx.FormMain.SpdBtnRTCSet.enabled());
  EXPECT_EQ(ctx.RtcSetStamp.get().Date, 0);  // only the production test's clock set keeps a stamp
}

TEST_F(ClockEraseTest, RtcSetWithoutEchoEmptiesTheEdit) {
  pack.set_silent(true);
  ctx.FormMain.EditRTC.set_text(" 2020.01.01   00:00:00 ");
  EXPECT_FALSE(RTCSetWorker(ctx));
  EXPECT_EQ(ctx.FormMain.EditRTC.text(), "");
}

struct ClockGetCase {
  const char* name;
  int silent_tries;  // the first tries the pack does not answer
  size_t requests;
  const char* shown;
};

class ClockGetTest : public ClockEraseTest, public ::testing::WithParamInterface<ClockGetCase> {};

TEST_P(ClockGetTest, TriesUpToThreeTimesAndNeverShowsAnOldClock) {
  const ClockGetCase& c = GetParam();
  pack.faults().add(Fault::Make(FaultMatch::Register(0x1005), FaultAction::Silence, FaultTrigger::First(c.silent_tries)));
  ctx.FormMain.EditRTC.set_text(" 2020.01.01   00:00:00 ");
  ctx.FormMain.SpdBtnRTCGet.click();

  const auto reqs = requests();
  ASSERT_EQ(reqs.size(), c.requests) << wire.dump();
  for (size_t i = 1; i < reqs.size(); ++i) EXPECT_EQ(gap_ms(reqs[i - 1], reqs[i]), 50 + 10120 + 300);
  EXPECT_EQ(ctx.FormMain.EditRTC.text(), c.shown);
  EXPECT_TRUE(ctx.FormMain.SpdBtnRTCGet.enabled());
}

INSTANTIATE_TEST_SUITE_P(Tries, ClockGetTest,
                         ::testing::Values(ClockGetCase{"FirstTry", 0, 1, " 2026.12.9   0:30:15"}, ClockGetCase{"ThirdTry", 2, 3, " 2026.12.9   0:30:35"},
                                           ClockGetCase{"Never", 3, 3, ""}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(ClockEraseTest, RtcGetClickIsIgnoredWhileTheButtonIsDisabled) {
  ctx.FormMain.SpdBtnRTCGet.set_enabled(false);
  SpdBtnRTCGetClick(ctx);
  EXPECT_TRUE(wire.entries().empty());
}

struct ExternalEraseCase {
  const char* name;
  int answered;  // the one pass the pack answers (0: none)
  bool checked;
  const char* label;
};

class ExternalEraseTest : public ClockEraseTest, public ::testing::WithParamInterface<ExternalEraseCase> {};

TEST_P(ExternalEraseTest, AlwaysFivePassesAndAnyEchoSucceeds) {
  const ExternalEraseCase& c = GetParam();
  if (c.answered == 0) {
    pack.set_silent(true);
  } else {
    pack.faults().add(Fault::Make(FaultMatch::Register(0x4103), FaultAction::Silence, FaultTrigger::First(c.answered - 1)));
    pack.faults().add(Fault::Make(FaultMatch::Register(0x4103), FaultAction::Silence, FaultTrigger::From(c.answered + 1)));
  }
  ctx.FormMain.CheckBoxEEPROMErase.set_checked(c.checked);
  ctx.FormMain.SpdBtnEEPROMEraseSet.click();

  const auto reqs = requests_to(0x4103);
  ASSERT_EQ(reqs.size(), 5u) << wire.dump();
  const auto pays = payloads();
  ASSERT_EQ(pays.size(), 5u);
  for (const auto& p : pays) EXPECT_EQ(p, (Bytes8{static_cast<uint8_t>(c.checked ? 1 : 0), 0, 0, 0, 0, 0, 0, 0}));
  const auto msgs = messages();
  EXPECT_EQ(gap_ms(msgs[0], msgs[1]), 100);
  EXPECT_EQ(ctx.FormMain.LabelEPPEraseStatus.text(), c.label);
  EXPECT_EQ(pack.erase_count(0x4103), c.answered == 0 || !c.checked ? 0 : 1);
  EXPECT_TRUE(ctx.FormMain.SpdBtnEEPROMEraseSet.enabled());
}

INSTANTIATE_TEST_SUITE_P(Passes, ExternalEraseTest,
                         ::testing::Values(ExternalEraseCase{"Silent", 0, true, " Time out "}, ExternalEraseCase{"OnlyThird", 3, true, " Succeeded "},
                                           ExternalEraseCase{"OnlyFirstUnticked", 1, false, " Succeeded "}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(ClockEraseTest, EraseWithAPortThatCannotOpenKeepsTheLabel) {
  ctx.PortName.set("/dev/no-such-port");
  EXPECT_FALSE(EEPROMEraseWorker(ctx));
  EXPECT_FALSE(EraseMCUIntTCCWorker(ctx));
  EXPECT_EQ(ctx.FormMain.LabelEPPEraseStatus.text(), "Erase Status");
  EXPECT_EQ(ctx.FormMain.LabelEraseTCCStatus.text(), "Status");
  EXPECT_TRUE(wire.entries().empty());
}

struct ControllerEraseCase {
  const char* name;
  void (*click)(Context&);
  uint16_t address;
  const char* label;
  std::optional<FaultTrigger> silence;  // which passes the pack does not answer
  std::vector<std::string> shown;       // the label's texts, in order
};

class ControllerEraseTest : public ClockEraseTest, public ::testing::WithParamInterface<ControllerEraseCase> {};

TEST_P(ControllerEraseTest, LabelEndsWithTheFifthPass) {
  const ControllerEraseCase& c = GetParam();
  if (c.silence) pack.faults().add(Fault::Make(FaultMatch::Register(c.address), FaultAction::Silence, *c.silence));
  c.click(ctx);

  const auto reqs = requests_to(c.address);
  ASSERT_EQ(reqs.size(), 5u) << wire.dump();
  for (const auto& r : reqs) EXPECT_EQ(r.write_count, 1);
  for (const auto& p : payloads()) EXPECT_EQ(p, Bytes8{});
  EXPECT_EQ(ui.texts(c.label), c.shown);
  const auto msgs = messages();
  // Each pass: 100 ms, request, 100 ms, payload, 100 ms, echo, 100 ms.
  EXPECT_EQ(msgs[0].t_us / 1000, 100);
  EXPECT_EQ(gap_ms(msgs[0], msgs[1]), 100);
}

INSTANTIATE_TEST_SUITE_P(
    Passes, ControllerEraseTest,
    ::testing::Values(ControllerEraseCase{"TccAllAnswered", SpdBtnEraseMCUIntTCCClick, 0x4101, "LabelEraseTCCStatus", std::nullopt, {" Passed "}},
                      ControllerEraseCase{"TccFifthSilent", SpdBtnEraseMCUIntTCCClick, 0x4101, "LabelEraseTCCStatus", FaultTrigger::Nth(5), {" Passed ", " Time out "}},
                      ControllerEraseCase{"TccSecondSilent", SpdBtnEraseMCUIntTCCClick, 0x4101, "LabelEraseTCCStatus", FaultTrigger::Nth(2), {" Passed ", " Failed ", " Passed "}},
                      ControllerEraseCase{"EepSilent", SpdBtnEraseMCUIntEEPClick, 0x4102, "LabelEraseEEPStatus", FaultTrigger::Always(), {" Failed ", " Time out "}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ClockEraseTest, ProductionHelpersWaitAroundTheEchoAndKeepTheStamp) {
  ASSERT_TRUE(OpenLinkPort(ctx));
  int64_t t = clock.now_ms();
  EXPECT_TRUE(SetRtcFromPc(ctx));
  EXPECT_EQ(clock.now_ms() - t, 300 + 50 + 2 * sim::kFrameWriteMs);  // three waits, two frames, the echo read ends 50 ms after its last byte
  const RtcStamp s = ctx.RtcSetStamp.get();
  EXPECT_EQ(s.Date, 20261209);
  EXPECT_EQ(s.Seconds, 30 * 60 + 15);
  EXPECT_TRUE(EraseExtEeprom(ctx));
  EXPECT_TRUE(EraseMcuTcc(ctx));
  EXPECT_TRUE(EraseMcuEep(ctx));
  CloseLinkPort(ctx);

  const auto reqs = requests();
  ASSERT_EQ(reqs.size(), 4u) << wire.dump();
  EXPECT_EQ(reqs[1].address, 0x4103);
  EXPECT_EQ(reqs[2].address, 0x4101);
  EXPECT_EQ(reqs[3].address, 0x4102);
  EXPECT_EQ(payloads()[1], (Bytes8{0x01, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(pack.erase_count(0x4103), 1);
  EXPECT_EQ(ctx.FormMain.EditRTC.text(), "");
}

TEST_F(ClockEraseTest, LastChargeDateReadsAndStopAfterwardsOnlyResetsTheCaption) {
  Control& button = ctx.FormMain.SpdBtnLastChgDateGet;
  button.click();
  EXPECT_EQ(button.text(), "STOP");
  EXPECT_EQ(button.font_color(), kRed);
  EXPECT_FALSE(ctx.FormMain.EditLastChgDate.empty());
  EXPECT_TRUE(button.enabled());
  EXPECT_TRUE(ctx.FormMain.CheckBoxLastChgDate.enabled());
  // A finished reading does not leave RunFlag set for the next command.
  EXPECT_EQ(ctx.RunFlag.load(), 0);

  wire.clear();
  const std::string date = ctx.FormMain.EditLastChgDate.text();
  button.click();
  EXPECT_EQ(button.text(), "READ");
  EXPECT_EQ(button.font_color(), kBlue);
  EXPECT_TRUE(button.enabled());
  EXPECT_TRUE(wire.entries().empty());
  EXPECT_EQ(ctx.FormMain.EditLastChgDate.text(), date);

  // The next barcode Read press reads instead of only clearing a stale flag.
  ctx.FormMain.BitBtnBarCodeRead.click();
  EXPECT_FALSE(requests().empty());
}

TEST_F(ClockEraseTest, StopDuringTheReadingEndsItAndHoldsTheButtonUntilThePortIsClosed) {
  Control& button = ctx.FormMain.SpdBtnLastChgDateGet;
  bool enabled_after_stop = true;
  clock.at(1500, [&] {
    button.click();  // the operator presses STOP while the reading runs
    enabled_after_stop = button.enabled();
  });
  button.click();

  EXPECT_EQ(button.text(), "READ");
  EXPECT_FALSE(enabled_after_stop);
  EXPECT_TRUE(button.enabled());
  EXPECT_EQ(ctx.RunFlag.load(), 0);
  EXPECT_FALSE(LinkPortOpen(ctx));
  // The reading stopped early: the last block was never searched.
  EXPECT_TRUE(requests_to(0x6603).empty()) << wire.dump();
  EXPECT_EQ(ctx.FormMain.EditLastChgDate.text(), "");
}

TEST_F(ClockEraseTest, ClicksThatCannotStartAWorkerPutTheirButtonBack) {
  ctx.workers.refuse_new();
  ctx.FormMain.SpdBtnRTCSet.click();
  EXPECT_TRUE(ctx.FormMain.SpdBtnRTCSet.enabled());
  ctx.FormMain.SpdBtnLastChgDateGet.click();
  EXPECT_EQ(ctx.FormMain.SpdBtnLastChgDateGet.text(), "READ");
  EXPECT_EQ(ctx.FormMain.SpdBtnLastChgDateGet.font_color(), kBlue);
  EXPECT_TRUE(wire.entries().empty());
}

TEST_F(ClockEraseTest, LastChargeDateWithAPortThatCannotOpenRestoresTheButtons) {
  ctx.PortName.set("/dev/no-such-port");
  ctx.FormMain.SpdBtnLastChgDateGet.click();
  EXPECT_EQ(ctx.RunFlag.load(), 0);
  EXPECT_TRUE(ctx.FormMain.SpdBtnLastChgDateGet.enabled());
  EXPECT_TRUE(ctx.FormMain.CheckBoxLastChgDate.enabled());
  EXPECT_TRUE(ctx.FormMain.SpdBtnRUN.enabled());
  EXPECT_TRUE(wire.entries().empty());
}

}  // namespace
}  // namespace bms::testing
