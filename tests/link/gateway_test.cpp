// The I2C gateway frames and the OZ890 EEPROM check against the virtual pack.
#include "core/link/gateway.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/link/oz890.h"
#include "core/platform/files.h"
#include "platform/temp_folder.h"
#include "sim_fixture.h"

namespace bms {
namespace {

using sim::Direction;
using sim::GatewayFault;
using sim::GatewayFaultAction;

TEST(GatewayCrc8, CheckValueAndRequestFrames) {
  const char* text = "123456789";
  EXPECT_EQ(GatewayCrc8(reinterpret_cast<const uint8_t*>(text), 9), 0x2A);
  const uint8_t body[15] = {0x02, 0x07, 0x00, 0x00, 0x60};
  EXPECT_EQ(GatewayCrc8(body, 15), 0xAC);

  struct Case {
    uint8_t reg;
    uint8_t crc;
  };
  for (const Case& c : {Case{0x00, 0xAC}, Case{0x01, 0xC2}, Case{0x7F, 0x1A}}) {
    SCOPED_TRACE(c.reg);
    const GatewayFrame f = BuildGatewayRequest(kGatewayKindRead, kOz890Address, c.reg);
    const GatewayFrame want = {0x55, 0xAA, 0x02, 0x07, 0x00, 0x00, 0x60, c.reg, 0, 0, 0, 0, 0, 0, 0, 0, 0, c.crc, 0x0D};
    EXPECT_EQ(f, want);
  }
  // The three kinds of the frame builder.
  EXPECT_EQ(BuildGatewayRequest(0, 0x60, 0)[3], 0x01);
  EXPECT_EQ(BuildGatewayRequest(2, 0x60, 0)[3], 0x03);
}

// A reply to register 0x21 of device 0x60: form, value bytes 7..9 as given.
GatewayFrame Reply(uint8_t form, uint8_t b8, uint8_t reg = 0x21, uint8_t addr = 0x60) {
  GatewayFrame r{0x55, 0xAA, 0x02, form, 0, 0, addr, reg, b8};
  r[17] = GatewayCrc8(&r[2], 15);
  r[18] = 0x0D;
  return r;
}

TEST(GatewayReplyCheck, EveryCaseOfTheReply) {
  struct Case {
    const char* what;
    GatewayFrame bytes;
    size_t got;
    GatewayReply want;
    uint8_t value;
  };
  auto spoil = [](GatewayFrame f, size_t at, uint8_t v, bool fix_crc) {
    f[at] = v;
    if (fix_crc) f[17] = GatewayCrc8(&f[2], 15);
    return f;
  };
  const GatewayFrame good = Reply(0x02, 0x5A);
  const Case cases[] = {
      {"form 0x02: byte 8", good, 19, GatewayReply::Valid, 0x5A},
      {"form 0x08: byte 8", Reply(0x08, 0x33), 19, GatewayReply::Valid, 0x33},
      {"form 0x04: byte 7", Reply(0x04, 0x33), 19, GatewayReply::Valid, 0x21},
      {"form 0x03 carries no value", Reply(0x03, 0x33), 19, GatewayReply::NoValue, 0},
      {"byte 2 not 0x02", spoil(good, 2, 0x01, true), 19, GatewayReply::NoValue, 0},
      {"byte 0 wrong", spoil(good, 0, 0x54, false), 19, GatewayReply::BadFrame, 0},
      {"byte 1 wrong", spoil(good, 1, 0xAB, false), 19, GatewayReply::BadFrame, 0},
      {"trailer wrong", spoil(good, 18, 0x0A, false), 19, GatewayReply::BadFrame, 0},
      {"CRC byte altered, value right", spoil(good, 17, static_cast<uint8_t>(good[17] ^ 1), false), 19, GatewayReply::BadCrc, 0},
      {"device address not echoed", Reply(0x02, 0x5A, 0x21, 0x61), 19, GatewayReply::WrongEcho, 0},
      {"register not echoed", Reply(0x02, 0x5A, 0x22), 19, GatewayReply::WrongEcho, 0},
      {"18 bytes", good, 18, GatewayReply::Short, 0},
      {"nothing", good, 0, GatewayReply::NoReply, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    uint8_t v = 0xEE;
    EXPECT_EQ(CheckGatewayReply(c.bytes.data(), c.got, 0x60, 0x21, &v), c.want);
    EXPECT_EQ(v, c.value);
  }
}

class Oz890CheckTest : public SimFixture {
 protected:
  Oz890CheckTest() {
    ctx.app.current_dir = tmp.path() + "/";
    image = pack.scenario().oz890_eeprom;
    WireOz890Handlers(ctx);
  }

  // OZ890EEP.ini with the 127 keys of `values`, leaving out `skip`.
  void WriteReference(const std::array<uint8_t, 128>& values, int skip = -1) {
    std::string t = "[OZ890_EEPROM]\r\n";
    for (int r = 0; r < 0x7F; ++r) {
      if (r != skip) t += Oz890Key(static_cast<uint8_t>(r)) + "=" + std::to_string(values[static_cast<size_t>(r)]) + "\r\n";
    }
    tmp.write("OZ890EEP.ini", t);
  }
  std::vector<std::string> memo() { return ctx.FormMain.MemoOZEEPRead.items(); }
  Oz890State state() { return ctx.Oz890.get(); }

  bms::testing::TempFolder tmp;
  std::array<uint8_t, 128> image{};
};

TEST_F(Oz890CheckTest, MatchingPackPassesWith128RequestsAt31MsIntervals) {
  WriteReference(image);
  ctx.FormMain.SpdBtnOZEEPRead.set_enabled(true);
  ctx.FormMain.SpdBtnOZEEPRead.click();

  EXPECT_EQ(memo(), (std::vector<std::string>{"Load file and OZ890 EEP read compare.", "", "Total Test Result : PASSED."}));
  EXPECT_TRUE(state().passed);
  EXPECT_TRUE(ctx.FormMain.SpdBtnOZEEPSaveRef.enabled());
  EXPECT_TRUE(ctx.FormMain.SpdBtnOZEEPRead.enabled());

  const auto writes = wire.host_writes();
  ASSERT_EQ(writes.size(), 128u);
  for (size_t r = 0; r < writes.size(); ++r) {
    SCOPED_TRACE(r);
    const GatewayFrame want = BuildGatewayRequest(kGatewayKindRead, 0x60, static_cast<uint8_t>(r));
    EXPECT_EQ(writes[r].bytes, std::vector<uint8_t>(want.begin(), want.end()));
    EXPECT_NEAR(writes[r].spacing_us, 1e7 / 115200.0, 0.01);  // 115200 baud
    // Request, 30 ms, the reply (already there), 1 ms, the next request.
    if (r > 0) {
      EXPECT_EQ(writes[r].t_ms() - (writes[r - 1].end_us() + 999) / 1000, 31);  // from the return of the write
    }
  }
  EXPECT_EQ(pack.gateway_requests(), 128);
  EXPECT_EQ(pack.status_polls(), 0);
  EXPECT_EQ(wire.pack_bytes().size(), 128u);
}

TEST_F(Oz890CheckTest, EdgeCasesOfTheReference) {
  struct Case {
    const char* what;
    int skip_key;                   // key left out of the file
    int device_7f;                  // device value of register 0x7F
    int device_10;                  // device value of register 0x10 (-1: as the file)
    std::vector<std::string> tail;  // memo after the title and the empty line
  };
  const std::string header = "Register  Expected    Read";
  const Case cases[] = {
      {"all keys equal, 0x7F = 0", -1, 0, -1, {"Total Test Result : PASSED."}},
      {"0x7F not 0", -1, 5, -1, {"Total Test Result : 1 FAILED.", header, "0x7F      0x00 (0)    0x05 (5)"}},
      {"missing EEP_10H_DATA expects 0xFF", 0x10, 0, 0x12, {"Total Test Result : 1 FAILED.", header, "0x10      0xFF (255)  0x12 (18)"}},
      {"missing EEP_10H_DATA, device 0xFF", 0x10, 0, 0xFF, {"Total Test Result : PASSED."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto device = image;
    device[0x7F] = static_cast<uint8_t>(c.device_7f);
    if (c.device_10 >= 0) device[0x10] = static_cast<uint8_t>(c.device_10);
    pack.update([&](sim::Scenario& s) { s.oz890_eeprom = device; });
    WriteReference(device, c.skip_key);
    RunOz890Check(ctx);
    std::vector<std::string> want = {"Load file and OZ890 EEP read compare.", ""};
    want.insert(want.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(memo(), want);
  }
}

TEST_F(Oz890CheckTest, MissingFileSaysSoBeforeTheComparison) {
  ctx.RunFlag = 1;
  EXPECT_FALSE(RunOz890Check(ctx));
  const auto m = memo();
  ASSERT_GE(m.size(), 4u);
  EXPECT_EQ(m[0], " Load File error.");
  EXPECT_EQ(m[1], "Load file and OZ890 EEP read compare.");
  EXPECT_EQ(m[2], "");
  // Against a table of zeros every non-zero register fails.
  int nonzero = 0;
  for (uint8_t v : image) nonzero += v != 0;
  EXPECT_EQ(m[3], "Total Test Result : " + std::to_string(nonzero) + " FAILED.");
  EXPECT_EQ(ctx.RunFlag.load(), 0);
}

TEST_F(Oz890CheckTest, SpoiledRepliesCountAsMismatchesAndShowInTheTable) {
  WriteReference(image);
  pack.update([](sim::Scenario& s) {
    s.gateway_faults = {GatewayFault{0x20, GatewayFaultAction::BadCrc}, GatewayFault{0x21, GatewayFaultAction::Silence}, GatewayFault{0x22, GatewayFaultAction::WrongEcho},
                        GatewayFault{0x23, GatewayFaultAction::Short}, GatewayFault{0x24, GatewayFaultAction::Form08}};
  });
  EXPECT_FALSE(RunOz890Check(ctx));
  auto hd = [](uint8_t v) {
    char b[32];
    std::snprintf(b, sizeof b, "0x%02X (%u)", v, v);
    std::string s = b;
    s.resize(12, ' ');
    return s;
  };
  const auto m = memo();
  // Form 0x08 still carries the value in byte 8: register 0x24 matches.
  EXPECT_EQ(m, (std::vector<std::string>{"Load file and OZ890 EEP read compare.", "", "Total Test Result : 4 FAILED.", "Register  Expected    Read",
                                         "0x20      " + hd(image[0x20]) + "bad reply", "0x21      " + hd(image[0x21]) + "no reply", "0x22      " + hd(image[0x22]) + "bad reply",
                                         "0x23      " + hd(image[0x23]) + "bad reply"}));
  const Oz890State s = state();
  EXPECT_EQ(s.replies[0x20], GatewayReply::BadCrc);
  EXPECT_EQ(s.replies[0x21], GatewayReply::NoReply);
  EXPECT_EQ(s.replies[0x22], GatewayReply::WrongEcho);
  EXPECT_EQ(s.replies[0x23], GatewayReply::Short);
  EXPECT_FALSE(s.complete);
  EXPECT_FALSE(ctx.FormMain.SpdBtnOZEEPSaveRef.enabled());
  // The silent register costs the whole read time-out of 1000 ms.
  const auto w = wire.host_writes();
  EXPECT_EQ(w[0x22].t_ms() - (w[0x21].end_us() + 999) / 1000, 30 + 1000 + 1);
}

TEST_F(Oz890CheckTest, PortThatCannotBeOpenedSaysWhy) {
  pack.set_open_error(PortError::Busy);
  EXPECT_FALSE(RunOz890Check(ctx));
  const auto m = memo();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0], " Gateway port error: " + PortErrorText(PortError::Busy, sim::kVirtualPortName));
  EXPECT_EQ(wire.size(), 0u);
  EXPECT_FALSE(state().ran);
}

TEST_F(Oz890CheckTest, SaveAsReferenceWritesTheImageAndAsksBeforeReplacing) {
  WriteReference(image);
  auto device = image;
  device[0x05] = 0x99;
  pack.update([&](sim::Scenario& s) { s.oz890_eeprom = device; });
  EXPECT_FALSE(RunOz890Check(ctx));
  const std::string before = tmp.read("OZ890EEP.ini");

  ScriptedOperator no({PromptAnswer::No});
  ctx.Operator = &no;
  ctx.FormMain.SpdBtnOZEEPSaveRef.click();
  EXPECT_EQ(tmp.read("OZ890EEP.ini"), before);
  ASSERT_EQ(no.asked().size(), 1u);
  EXPECT_EQ(no.asked()[0].buttons, PromptButtons::YesNo);
  EXPECT_EQ(memo().back(), " Reference not saved: the reference file " + tmp.path() + "/OZ890EEP.ini was kept as it was");

  ScriptedOperator yes({PromptAnswer::Yes});
  ctx.Operator = &yes;
  ctx.FormMain.SpdBtnOZEEPSaveRef.click();
  EXPECT_EQ(tmp.read("OZ890EEP.ini"), Oz890ReferenceText(device));
  EXPECT_EQ(memo().back(), " Reference saved: " + tmp.path() + "/OZ890EEP.ini");
  const std::string text = tmp.read("OZ890EEP.ini");
  EXPECT_NE(text.find("[OZ890_EEPROM]\r\nEEP_00H_DATA=" + std::to_string(device[0]) + "\r\n"), std::string::npos);
  EXPECT_NE(text.find("EEP_05H_DATA=153\r\n"), std::string::npos);
  EXPECT_EQ(text.find("EEP_7FH_DATA"), std::string::npos);

  // The saved file is the reference of the next check.
  EXPECT_TRUE(RunOz890Check(ctx));

  // A new file needs no question; an incomplete image is never saved.
  ScriptedOperator none;
  ctx.Operator = &none;
  std::string why;
  EXPECT_TRUE(SaveOz890Reference(ctx, tmp / "other.ini", &why)) << why;
  EXPECT_TRUE(none.asked().empty());
  pack.update([](sim::Scenario& s) { s.gateway_faults = {GatewayFault{0x30, GatewayFaultAction::Silence}}; });
  RunOz890Check(ctx);
  EXPECT_FALSE(SaveOz890Reference(ctx, tmp / "third.ini", &why));
  EXPECT_FALSE(FileExists(tmp / "third.ini"));
}

// The speed the host sets selects the protocol the pack listens to.
TEST_F(Oz890CheckTest, BaudRateSelectsTheProtocol) {
  const GatewayFrame g = BuildGatewayRequest(kGatewayKindRead, 0x60, 0x10);
  const auto at = [&](int baud, const uint8_t* bytes, size_t n) {
    std::vector<uint8_t> out;
    for (const auto& b : pack.receive(bytes, n, 0, baud)) out.insert(out.end(), b.bytes.begin(), b.bytes.end());
    return out;
  };
  EXPECT_TRUE(at(19200, g.data(), g.size()).empty());
  const auto reply = at(115200, g.data(), g.size());
  ASSERT_EQ(reply.size(), 19u);
  EXPECT_EQ(reply[8], image[0x10]);
  const uint8_t poll[3] = {0x26, 0x0D, 0x0A};
  EXPECT_TRUE(at(115200, poll, 3).empty());
  EXPECT_EQ(at(19200, poll, 3).size(), 96u);
}

}  // namespace
}  // namespace bms
