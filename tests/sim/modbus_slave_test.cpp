// The virtual pack's Modbus slave 0x60: reads within the blocks, the 0x16
// write with its echo, exception replies, the fault rules, and the framed
// protocol on the same line.
#include "sim/modbus_slave.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "core/link/modbus.h"
#include "sim/faults.h"
#include "sim_fixture.h"

namespace bms::sim {
namespace {

using Bytes = std::vector<uint8_t>;

class ModbusSlaveTest : public SimFixture {
 protected:
  void SetUp() override { ASSERT_TRUE(OpenLinkPort(ctx)); }
  void TearDown() override { CloseLinkPort(ctx); }

  // Sends raw bytes and returns what came back within one read of up to n.
  Bytes Exchange(const Bytes& request, size_t n = 300) {
    PurgeLink(ctx, kPurgeAll);
    size_t written = 0;
    EXPECT_TRUE(LinkWrite(ctx, request.data(), request.size(), &written));
    Bytes buf(n);
    size_t got = 0;
    LinkRead(ctx, buf.data(), n, &got);
    buf.resize(got);
    return buf;
  }
  static Bytes Read(uint16_t start, uint16_t n) { return BuildModbusReadRequest(0x60, 0x03, start, n); }
};

TEST_F(ModbusSlaveTest, ReadsAnyRangeInsideEitherBlock) {
  struct Case {
    uint16_t start, n;
  } cases[] = {{0x4207, 120}, {0x4207, 1}, {0x4242, 10}, {0x427E, 1}, {0x4307, 120}, {0x437E, 1}, {0x431A, 101}};
  for (const Case& c : cases) {
    const Bytes r = Exchange(Read(c.start, c.n));
    ASSERT_EQ(r.size(), 2u * c.n + 5) << std::hex << c.start;
    EXPECT_TRUE(ModbusReadReplyGood(r.data(), r.size(), 0x60, 0x03, c.n));
    for (uint16_t k = 0; k < c.n; ++k) ASSERT_EQ(r[3 + 2 * k] << 8 | r[4 + 2 * k], *pack.modbus().value(static_cast<uint16_t>(c.start + k)));
  }
  // Documented contents: 13 cells in series, 4 in parallel; SOC 0 % 3000 mV.
  EXPECT_EQ(*pack.modbus().value(0x4207), 13);
  EXPECT_EQ(*pack.modbus().value(0x4208), 4);
  EXPECT_EQ(*pack.modbus().value(0x431A), 3000);
  EXPECT_EQ(*pack.modbus().value(0x437E), 4200);
}

TEST_F(ModbusSlaveTest, WriteStoresTheValuesAndEchoesStartAndQuantity) {
  std::vector<int32_t> values(120);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int32_t>(0x1000 + i);
  const Bytes r = Exchange(BuildModbusWriteRequest(0x60, 0x16, 0x4307, 120, values.data()), 8);
  EXPECT_EQ(r, (Bytes{0x60, 0x16, 0x43, 0x07, 0x00, 0x78, 0xE4, 0x1F}));
  const auto d = pack.modbus().block(kBlockDStart);
  for (size_t i = 0; i < d.size(); ++i) ASSERT_EQ(d[i], 0x1000 + i);
  EXPECT_EQ(pack.modbus().writes(), 1);
  // Block C is untouched.
  EXPECT_EQ(pack.modbus().block(kBlockCStart), InitialBlockC());
}

TEST_F(ModbusSlaveTest, ExceptionRepliesForRangesFunctionsAndQuantities) {
  auto exception = [](uint8_t fn, uint8_t code) { return ModbusFrameWithCrc({0x60, static_cast<uint8_t>(fn | 0x80), code}); };
  std::vector<int32_t> values(2, 5);
  Bytes bad_count = BuildModbusWriteRequest(0x60, 0x16, 0x4207, 2, values.data());
  bad_count[4] = 0x00;
  bad_count[5] = 0x03;  // quantity 3 with byte count 4
  bad_count = ModbusFrameWithCrc(Bytes(bad_count.begin(), bad_count.end() - 2));
  struct Case {
    const char* what;
    Bytes request;
    Bytes reply;
  } cases[] = {
      {"read before block C", Read(0x4206, 1), exception(0x03, 0x02)},
      {"read across the end of block C", Read(0x4270, 20), exception(0x03, 0x02)},
      {"read between the blocks", Read(0x4280, 4), exception(0x03, 0x02)},
      {"read after block D", Read(0x437F, 1), exception(0x03, 0x02)},
      {"read of 126", ModbusFrameWithCrc({0x60, 0x03, 0x42, 0x07, 0x00, 0x7E}), exception(0x03, 0x03)},
      {"read of 0", ModbusFrameWithCrc({0x60, 0x03, 0x42, 0x07, 0x00, 0x00}), exception(0x03, 0x03)},
      {"write outside", BuildModbusWriteRequest(0x60, 0x16, 0x427E, 2, values.data()), exception(0x16, 0x02)},
      {"write with a wrong byte count", bad_count, exception(0x16, 0x03)},
      {"function 0x10", BuildModbusWriteRequest(0x60, 0x10, 0x4207, 2, values.data()), exception(0x10, 0x01)},
      {"function 0x04", BuildModbusReadRequest(0x60, 0x04, 0x4207, 1), exception(0x04, 0x01)},
  };
  for (const Case& c : cases) EXPECT_EQ(Exchange(c.request, 64), c.reply) << c.what;
  EXPECT_EQ(pack.modbus().block(kBlockCStart), InitialBlockC());
  // An exception reply is not a good reply for the master.
  EXPECT_FALSE(ModbusReadRegisters(ctx, 0x4206, 1));
}

TEST_F(ModbusSlaveTest, OtherSlavesAndBadCrcGetNoAnswer) {
  Bytes bad_crc = Read(0x4207, 1);
  bad_crc.back() ^= 0x01;
  const Bytes other = BuildModbusReadRequest(0x61, 0x03, 0x4207, 1);
  for (const Bytes& req : {bad_crc, other}) {
    EXPECT_TRUE(Exchange(req, 7).empty());
    const int64_t write_returned_ms = (wire.host_writes().back().end_us() + 999) / 1000;
    EXPECT_EQ(clock.now_ms() - write_returned_ms, 5000 + 5 * 7);
  }
  // The line is usable at once afterwards.
  EXPECT_TRUE(ModbusReadRegisters(ctx, 0x4207, 120));
}

TEST_F(ModbusSlaveTest, FaultRulesShapeTheModbusAnswers) {
  pack.faults().add(Fault::Make(FaultMatch::ModbusAt(0x4207), FaultAction::Silence, FaultTrigger::Nth(1)));
  pack.faults().add(Fault::Make(FaultMatch::Modbus(), FaultAction::BadChecksum, FaultTrigger::Nth(2)));
  Fault slave = Fault::Make(FaultMatch::Modbus(), FaultAction::WrongSlave, FaultTrigger::Nth(3));
  slave.value = 0x61;
  pack.faults().add(slave);

  EXPECT_FALSE(ModbusReadRegisters(ctx, 0x4207, 120));  // silence: nothing comes
  const Bytes spoiled = Exchange(Read(0x4207, 2));      // second: CRC spoiled
  ASSERT_EQ(spoiled.size(), 9u);
  EXPECT_FALSE(ModbusReadReplyGood(spoiled.data(), spoiled.size(), 0x60, 0x03, 2));
  const Bytes other = Exchange(Read(0x4207, 2));  // third: slave 0x61, CRC valid
  ASSERT_EQ(other.size(), 9u);
  EXPECT_EQ(other[0], 0x61);
  EXPECT_TRUE(ModbusReadReplyGood(other.data(), other.size(), 0x61, 0x03, 2));
  EXPECT_TRUE(ModbusReadRegisters(ctx, 0x4207, 120));  // fourth: good

  // A silenced write changes nothing.
  pack.faults().clear();
  pack.faults().add(Fault::Make(FaultMatch::Modbus(), FaultAction::Silence));
  ctx.ModbusWriteWords.with([](auto& w) { w.fill(1); });
  EXPECT_FALSE(ModbusWriteRegisters(ctx, 0x4207, 120));
  EXPECT_EQ(pack.modbus().block(kBlockCStart), InitialBlockC());
}

TEST_F(ModbusSlaveTest, FramedProtocolAndModbusShareTheLine) {
  ASSERT_TRUE(SendRequest(ctx, 0x1001, 1));
  ASSERT_TRUE(AwaitReplyDecode(ctx));
  ASSERT_TRUE(ModbusReadRegisters(ctx, 0x4307, 120));
  ASSERT_TRUE(SendRequest(ctx, 0x1001, 2));
  ASSERT_TRUE(AwaitReplyDecode(ctx));
  EXPECT_EQ(pack.request_count(0x1001), 2);
  EXPECT_EQ(pack.modbus().requests(), 1);
}

TEST(ModbusFaultText, TargetsAndTheSlaveAction) {
  struct Case {
    const char* text;
    MatchKind kind;
    uint16_t address;
    FaultAction action;
  } cases[] = {
      {"modbus:silence", MatchKind::Modbus, 0, FaultAction::Silence},
      {"modbus/0x4307:nth=2:bad-checksum", MatchKind::ModbusStart, 0x4307, FaultAction::BadChecksum},
      {"modbus:slave=0x61", MatchKind::Modbus, 0, FaultAction::WrongSlave},
  };
  for (const Case& c : cases) {
    Fault f;
    bool silent = false;
    std::string error;
    ASSERT_TRUE(ParseFaultText(c.text, f, &silent, error)) << c.text << ": " << error;
    EXPECT_EQ(f.match.kind, c.kind) << c.text;
    EXPECT_EQ(f.match.address, c.address) << c.text;
    EXPECT_EQ(f.action, c.action) << c.text;
  }
  Fault f;
  std::string error;
  EXPECT_FALSE(ParseFaultText("modbus/zz:silence", f, nullptr, error));
  EXPECT_FALSE(ParseFaultText("modbus:slave=300", f, nullptr, error));
}

}  // namespace
}  // namespace bms::sim
