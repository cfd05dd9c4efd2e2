// The Modbus RTU master: the CRC, the request frames, every reply check,
// the tables, and delivery of a reply whole, split and byte by byte.
#include "core/link/modbus.h"

#include <gtest/gtest.h>

#include <deque>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "core/link/link_port.h"
#include "sim_fixture.h"

namespace bms {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithCrc(Bytes b) {
  const uint16_t crc = ModbusCrc16(b.data(), b.size());
  b.push_back(static_cast<uint8_t>(crc & 0xFF));
  b.push_back(static_cast<uint8_t>(crc >> 8));
  return b;
}

// A good read reply of n registers whose values are first, first+1, ...
Bytes ReadReply(uint16_t n, uint16_t first = 0x0100, uint8_t slave = 0x60, uint8_t fn = 0x03) {
  Bytes b{slave, fn, static_cast<uint8_t>(2 * n)};
  for (uint16_t k = 0; k < n; ++k) {
    b.push_back(static_cast<uint8_t>((first + k) >> 8));
    b.push_back(static_cast<uint8_t>((first + k) & 0xFF));
  }
  return WithCrc(b);
}

TEST(ModbusCrc, CheckValueTablesAndWorkedFrames) {
  const std::string digits = "123456789";
  EXPECT_EQ(ModbusCrc16(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0x4B37);
  EXPECT_EQ(Bytes(ModbusCrcTableLow().begin(), ModbusCrcTableLow().begin() + 8), (Bytes{0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41}));
  EXPECT_EQ(Bytes(ModbusCrcTableHigh().begin(), ModbusCrcTableHigh().begin() + 8), (Bytes{0x00, 0xC0, 0xC1, 0x01, 0xC3, 0x03, 0x02, 0xC2}));
  EXPECT_EQ(ModbusCrc16(nullptr, 0), 0xFFFF);

  // The bit-wise definition agrees with the tables for every single byte.
  for (int d = 0; d < 256; ++d) {
    uint16_t crc = 0xFFFF ^ static_cast<uint16_t>(d);
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    const uint8_t byte = static_cast<uint8_t>(d);
    EXPECT_EQ(ModbusCrc16(&byte, 1), crc) << d;
  }

  struct Echo {
    Bytes body;
    Bytes frame;
  } echoes[] = {
      {{0x60, 0x16, 0x42, 0x07, 0x00, 0x78}, {0x60, 0x16, 0x42, 0x07, 0x00, 0x78, 0xE5, 0xE3}},
      {{0x60, 0x16, 0x43, 0x07, 0x00, 0x78}, {0x60, 0x16, 0x43, 0x07, 0x00, 0x78, 0xE4, 0x1F}},
  };
  for (const Echo& e : echoes) EXPECT_EQ(WithCrc(e.body), e.frame);
}

TEST(ModbusFrames, ReadRequestsFirstMiddleLastRegister) {
  struct Case {
    uint16_t start, n;
    Bytes frame;
  } cases[] = {
      {0x4207, 120, {0x60, 0x03, 0x42, 0x07, 0x00, 0x78, 0xE8, 0x20}}, {0x4307, 120, {0x60, 0x03, 0x43, 0x07, 0x00, 0x78, 0xE9, 0xDC}},
      {0x4207, 1, WithCrc({0x60, 0x03, 0x42, 0x07, 0x00, 0x01})},      {0x4242, 1, WithCrc({0x60, 0x03, 0x42, 0x42, 0x00, 0x01})},
      {0x427E, 1, WithCrc({0x60, 0x03, 0x42, 0x7E, 0x00, 0x01})},      {0x0000, 125, WithCrc({0x60, 0x03, 0x00, 0x00, 0x00, 0x7D})},
  };
  for (const Case& c : cases) EXPECT_EQ(BuildModbusReadRequest(0x60, 0x03, c.start, c.n), c.frame) << std::hex << c.start;
  EXPECT_TRUE(BuildModbusReadRequest(0x60, 0x03, 0x4207, 0).empty());
  EXPECT_TRUE(BuildModbusReadRequest(0x60, 0x03, 0x4207, 126).empty());
}

TEST(ModbusFrames, WriteRequestsLayoutAndValues) {
  std::vector<int32_t> values(127, 0);
  values[0] = -1;     // FF FF
  values[1] = 70000;  // 0x11170: only the low 16 bits, 11 70
  values[2] = -500;   // FE 0C
  values[119] = 0x1234;
  const Bytes f = BuildModbusWriteRequest(0x60, 0x16, 0x4207, 120, values.data());
  ASSERT_EQ(f.size(), 249u);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 7), (Bytes{0x60, 0x16, 0x42, 0x07, 0x00, 0x78, 0xF0}));
  EXPECT_EQ(Bytes(f.begin() + 7, f.begin() + 13), (Bytes{0xFF, 0xFF, 0x11, 0x70, 0xFE, 0x0C}));
  EXPECT_EQ(f[7 + 2 * 119], 0x12);
  EXPECT_EQ(f[8 + 2 * 119], 0x34);
  EXPECT_EQ(WithCrc(Bytes(f.begin(), f.end() - 2)), f);

  struct Case {
    uint16_t start, n;
    size_t size;
    uint8_t count;
  } cases[] = {{0x4207, 1, 11, 2}, {0x4242, 1, 11, 2}, {0x427E, 1, 11, 2}, {0x4307, 127, 263, 254}};
  for (const Case& c : cases) {
    const Bytes w = BuildModbusWriteRequest(0x60, 0x16, c.start, c.n, values.data());
    ASSERT_EQ(w.size(), c.size);
    EXPECT_EQ(w[2], c.start >> 8);
    EXPECT_EQ(w[3], c.start & 0xFF);
    EXPECT_EQ(w[6], c.count);
  }
  EXPECT_TRUE(BuildModbusWriteRequest(0x60, 0x16, 0x4207, 0, values.data()).empty());
  EXPECT_TRUE(BuildModbusWriteRequest(0x60, 0x16, 0x4207, 128, values.data()).empty());
}

TEST(ModbusReplies, EveryMalformedReadReplyIsRejected) {
  const Bytes good = ReadReply(120);
  ASSERT_EQ(good.size(), 245u);
  EXPECT_TRUE(ModbusReadReplyGood(good.data(), good.size(), 0x60, 0x03, 120));

  Bytes bad_crc = good;
  bad_crc.back() ^= 0x01;
  Bytes count_off = good;
  count_off[2] = 0xEE;
  count_off = WithCrc(Bytes(count_off.begin(), count_off.end() - 2));  // CRC right, byte count wrong
  struct Case {
    const char* what;
    Bytes reply;
  } cases[] = {
      {"slave 0x61", ReadReply(120, 0x0100, 0x61)},
      {"function 0x83", ReadReply(120, 0x0100, 0x60, 0x83)},
      {"function 0x04", ReadReply(120, 0x0100, 0x60, 0x04)},
      {"byte count 2n-2 with a right CRC", count_off},
      {"CRC", bad_crc},
      {"one byte short", Bytes(good.begin(), good.end() - 1)},
      {"empty", {}},
      {"exception reply 60 83 02", WithCrc({0x60, 0x83, 0x02})},
      {"reply of 119 registers", ReadReply(119)},
  };
  for (const Case& c : cases) EXPECT_FALSE(ModbusReadReplyGood(c.reply.data(), c.reply.size(), 0x60, 0x03, 120)) << c.what;
}

TEST(ModbusReplies, EveryMalformedWriteEchoIsRejected) {
  const Bytes good{0x60, 0x16, 0x42, 0x07, 0x00, 0x78, 0xE5, 0xE3};
  EXPECT_TRUE(ModbusWriteReplyGood(good.data(), good.size(), 0x60, 0x16, 0x4207, 120));
  Bytes bad_crc = good;
  bad_crc[6] ^= 0x10;
  struct Case {
    const char* what;
    Bytes reply;
  } cases[] = {
      {"quantity 119 with a right CRC", WithCrc({0x60, 0x16, 0x42, 0x07, 0x00, 0x77})},
      {"start 0x4307", WithCrc({0x60, 0x16, 0x43, 0x07, 0x00, 0x78})},
      {"slave 0x61", WithCrc({0x61, 0x16, 0x42, 0x07, 0x00, 0x78})},
      {"function 0x10", WithCrc({0x60, 0x10, 0x42, 0x07, 0x00, 0x78})},
      {"CRC", bad_crc},
      {"exception 60 96 02", WithCrc({0x60, 0x96, 0x02})},
      {"seven bytes", Bytes(good.begin(), good.end() - 1)},
  };
  for (const Case& c : cases) EXPECT_FALSE(ModbusWriteReplyGood(c.reply.data(), c.reply.size(), 0x60, 0x16, 0x4207, 120)) << c.what;
}

// A port that answers each write with the next scripted reply (arriving
// while the following read waits) and records
// the writes, the sizes asked of each read and the purges.
class ScriptedPort final : public SerialPort {
 public:
  struct Log {
    std::vector<Bytes> writes;
    std::vector<size_t> read_sizes;
    std::vector<std::string> calls;  // "write", "read", "purge N"
  };
  ScriptedPort(std::deque<Bytes>* replies, Log* log) : replies_(replies), log_(log) {}
  bool open(const std::string&) override { return open_ = true; }
  void close() override { open_ = false; }
  bool is_open() const override { return open_; }
  bool get_line(LineSettings& out) override { return (out = LineSettings{}, true); }
  bool set_line(const LineSettings&) override { return true; }
  bool set_queue_sizes(size_t, size_t) override { return true; }
  bool set_timeouts(const PortTimeouts&) override { return true; }
  bool read(uint8_t* buf, size_t n, size_t* got) override {
    log_->read_sizes.push_back(n);
    log_->calls.push_back("read");
    if (pending_) input_ = std::move(*pending_);
    pending_.reset();
    const size_t k = std::min(n, input_.size());
    std::copy_n(input_.begin(), k, buf);
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(k));
    *got = k;
    return true;
  }
  bool write(const uint8_t* buf, size_t n, size_t* written) override {
    log_->writes.emplace_back(buf, buf + n);
    log_->calls.push_back("write");
    if (!replies_->empty()) {
      pending_ = replies_->front();
      replies_->pop_front();
    }
    *written = n;
    return true;
  }
  bool purge(unsigned flags) override {
    log_->calls.push_back("purge " + std::to_string(flags));
    if (flags & kPurgeRxClear) input_.clear();
    return true;
  }
  bool bytes_waiting(size_t* n) override { return (*n = input_.size(), true); }
  void cancel() override {}
  PortError error() const override { return PortError::None; }
  std::string error_text() const override { return ""; }

 private:
  std::deque<Bytes>* replies_;
  Log* log_;
  Bytes input_;
  std::optional<Bytes> pending_;  // the reply arrives while the next read waits
  bool open_ = false;
};

class ModbusMaster : public ::testing::Test {
 protected:
  ModbusMaster()
      : ctx(
            clock, [this](const std::string&) { return std::make_unique<ScriptedPort>(&replies, &log); }, true) {
    ctx.PortName.set("scripted");
    EXPECT_TRUE(OpenLinkPort(ctx));
    log = {};
  }
  ~ModbusMaster() override { CloseLinkPort(ctx); }

  VirtualClock clock;
  std::deque<Bytes> replies;
  ScriptedPort::Log log;
  Context ctx;
};

TEST_F(ModbusMaster, ReadSendsTheRequestAsksForTheWholeReplyAndFillsTheTables) {
  replies.push_back(ReadReply(120, 0xFFF0));
  ASSERT_TRUE(ModbusReadRegisters(ctx, 0x4207, 120));
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_EQ(log.writes[0], (Bytes{0x60, 0x03, 0x42, 0x07, 0x00, 0x78, 0xE8, 0x20}));
  EXPECT_EQ(log.read_sizes, (std::vector<size_t>{245}));
  // Purge all before the request, the receive side after it and after the read.
  EXPECT_EQ(log.calls, (std::vector<std::string>{"purge 15", "write", "purge 10", "read", "purge 10"}));
  const auto words = ctx.ModbusReadWords.get();
  const auto bytes = ctx.ModbusReadBytes.get();
  EXPECT_EQ(words[0], 0xFFF0);  // unsigned 0..65535
  EXPECT_EQ(words[15], 0xFFFF);
  EXPECT_EQ(words[16], 0x0000);
  EXPECT_EQ(words[119], 119 - 16);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xF0);
  EXPECT_EQ(bytes[239], 119 - 16);
}

TEST_F(ModbusMaster, RejectedReadsLeaveTheTablesAsTheyWere) {
  const Bytes good = ReadReply(120, 0x2000);
  Bytes bad_crc = good;
  bad_crc[100] ^= 0x40;
  Bytes wrong_count = good;
  wrong_count[2] = 0xF2;
  wrong_count = WithCrc(Bytes(wrong_count.begin(), wrong_count.end() - 2));
  const std::vector<Bytes> bad = {ReadReply(120, 0x2000, 0x61), ReadReply(120, 0x2000, 0x60, 0x83), wrong_count, bad_crc, Bytes(good.begin(), good.begin() + 200), {},
                                  WithCrc({0x60, 0x83, 0x02})};
  for (const Bytes& reply : bad) {
    ctx.ModbusReadWords.with([](auto& w) { w.fill(7); });
    ctx.ModbusReadBytes.with([](auto& b) { b.fill(7); });
    replies.push_back(reply);
    EXPECT_FALSE(ModbusReadRegisters(ctx, 0x4207, 120)) << reply.size();
    for (int32_t w : ctx.ModbusReadWords.get()) ASSERT_EQ(w, 7);
    for (uint8_t b : ctx.ModbusReadBytes.get()) ASSERT_EQ(b, 7);
  }
}

TEST_F(ModbusMaster, WriteSendsTheLowSixteenBitsAndChecksTheEcho) {
  ctx.ModbusWriteWords.with([](auto& w) {
    for (size_t i = 0; i < w.size(); ++i) w[i] = static_cast<int32_t>(i);
    w[0] = -1;
    w[1] = 70000;
  });
  replies.push_back({0x60, 0x16, 0x42, 0x07, 0x00, 0x78, 0xE5, 0xE3});
  ASSERT_TRUE(ModbusWriteRegisters(ctx, 0x4207, 120));
  ASSERT_EQ(log.writes.size(), 1u);
  const Bytes& f = log.writes[0];
  ASSERT_EQ(f.size(), 249u);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 11), (Bytes{0x60, 0x16, 0x42, 0x07, 0x00, 0x78, 0xF0, 0xFF, 0xFF, 0x11, 0x70}));
  EXPECT_EQ(f[7 + 2 * 119 + 1], 119);
  EXPECT_EQ(log.read_sizes, (std::vector<size_t>{8}));
  // No purge before or after the write; the receive side is purged after the read.
  EXPECT_EQ(log.calls, (std::vector<std::string>{"write", "read", "purge 10"}));

  const std::vector<Bytes> bad = {WithCrc({0x60, 0x16, 0x42, 0x07, 0x00, 0x77}),
                                  WithCrc({0x60, 0x16, 0x42, 0x08, 0x00, 0x78}),
                                  WithCrc({0x61, 0x16, 0x42, 0x07, 0x00, 0x78}),
                                  {0x60, 0x16, 0x42, 0x07, 0x00, 0x78, 0xE5, 0xE4},
                                  WithCrc({0x60, 0x96, 0x02}),
                                  {}};
  for (const Bytes& echo : bad) {
    replies.push_back(echo);
    EXPECT_FALSE(ModbusWriteRegisters(ctx, 0x4207, 120)) << echo.size();
  }
}

TEST_F(ModbusMaster, QuantitiesOutsideTheLimitsSendNothing) {
  EXPECT_FALSE(ModbusReadRegisters(ctx, 0x4207, 0));
  EXPECT_FALSE(ModbusReadRegisters(ctx, 0x4207, 126));
  EXPECT_FALSE(ModbusWriteRegisters(ctx, 0x4207, 0));
  EXPECT_FALSE(ModbusWriteRegisters(ctx, 0x4207, 128));
  EXPECT_TRUE(log.writes.empty());
  replies.push_back(ReadReply(125));
  EXPECT_TRUE(ModbusReadRegisters(ctx, 0x4207, 125));
  EXPECT_EQ(log.read_sizes, (std::vector<size_t>{255}));
}

// Against the virtual pack: the reply comes over the simulated line with
// its byte times, so a reply may arrive in pieces within one read.
class ModbusOverTheLine : public SimFixture {
 protected:
  void SetUp() override { ASSERT_TRUE(OpenLinkPort(ctx)); }
  void TearDown() override { CloseLinkPort(ctx); }
  void Gap(size_t at, int64_t ms) {
    sim::Fault f = sim::Fault::Make(sim::FaultMatch::Modbus(), sim::FaultAction::Gap);
    f.at_byte = at;
    f.ms = ms;
    pack.faults().add(f);
  }
  // When the last host write returned: its last byte has left the line,
  // on the virtual clock's millisecond.
  int64_t WriteReturnedMs() const { return (wire.host_writes().back().end_us() + 999) / 1000; }
  std::array<int32_t, 125> ReadOnce(bool* ok) {
    ClearModbusReadTables(ctx);
    *ok = ModbusReadRegisters(ctx, 0x4307, 120);
    return ctx.ModbusReadWords.get();
  }
};

TEST_F(ModbusOverTheLine, WholeSplitAtEveryByteAndByteByByteDecodeTheSame) {
  bool ok = false;
  const auto whole = ReadOnce(&ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(whole[8], 3500);  // Edit_Cell_Rated_Capacity of the pack's Block D

  for (size_t at = 1; at < 245; ++at) {
    pack.faults().clear();
    Gap(at, 40);  // below the 50 ms interval time-out
    const int64_t t0 = clock.now_ms();
    const auto split = ReadOnce(&ok);
    ASSERT_TRUE(ok) << "split at " << at;
    ASSERT_EQ(split, whole) << "split at " << at;
    ASSERT_GE(clock.now_ms() - t0, 40);
  }

  pack.faults().clear();
  for (size_t at = 1; at < 245; ++at) Gap(at, 20);
  const int64_t t0 = clock.now_ms();
  const auto bytewise = ReadOnce(&ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(bytewise, whole);
  EXPECT_GE(clock.now_ms() - t0, 244 * 20);
}

TEST_F(ModbusOverTheLine, APauseLongerThanTheIntervalCutsTheReplyShort) {
  bool ok = true;
  Gap(100, 60);
  const int64_t t0 = clock.now_ms();
  const auto words = ReadOnce(&ok);
  EXPECT_FALSE(ok);
  for (int32_t w : words) ASSERT_EQ(w, 0);
  // The read ends 50 ms after byte 100 arrived, not at its total time-out.
  EXPECT_LT(clock.now_ms() - t0, 1000);

  // The rest of that reply is on the line when the next request goes out;
  // the purge before the request clears what has arrived by then, and the
  // next read is good.
  pack.faults().clear();
  clock.advance(100);
  ReadOnce(&ok);
  EXPECT_TRUE(ok);
}

TEST_F(ModbusOverTheLine, ASilentSlaveFailsAfterTheTotalTimeOut) {
  pack.faults().add(sim::Fault::Make(sim::FaultMatch::Modbus(), sim::FaultAction::Silence));
  bool ok = true;
  ReadOnce(&ok);
  EXPECT_FALSE(ok);
  // One read of 245 bytes from the end of the request, no retry.
  EXPECT_EQ(wire.host_writes().size(), 1u);
  EXPECT_EQ(clock.now_ms() - WriteReturnedMs(), 5000 + 5 * 245);
}

}  // namespace
}  // namespace bms
