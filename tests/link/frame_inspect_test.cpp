// The frame tap, the describer and the trace file: what the inspector and
// `monitor --trace` show for each frame, checked against the bytes the
// virtual pack's wire log saw.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/link/frame.h"
#include "core/link/frame_describe.h"
#include "core/link/frame_tap.h"
#include "core/link/frame_trace.h"
#include "core/link/gateway.h"
#include "core/link/link_port.h"
#include "core/link/modbus.h"
#include "core/shell/app.h"
#include "core/shell/connection_dialog.h"
#include "platform/temp_folder.h"
#include "sim_fixture.h"

namespace bms {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr FrameDirection TX = FrameDirection::Out;
constexpr FrameDirection RX = FrameDirection::In;

Bytes WithModbusCrc(Bytes b) {
  const uint16_t crc = ModbusCrc16(b.data(), b.size());
  b.push_back(static_cast<uint8_t>(crc & 0xFF));
  b.push_back(static_cast<uint8_t>(crc >> 8));
  return b;
}

Bytes RegisterFrame(uint8_t id, Bytes data) {
  Bytes f(kFrameSize, 0);
  f[0] = kFrameStart;
  f[2] = id;
  for (size_t i = 0; i < 8 && i < data.size(); ++i) f[3 + i] = data[i];
  f[11] = FrameChecksum(f.data());
  f[12] = kFrameEnd;
  return f;
}

Bytes StatusBlock(bool good_sum) {
  Bytes b(kStatusBlockSize, 0x11);
  b[0] = kStatusBlockStart;
  b[95] = static_cast<uint8_t>(StatusBlockSum(b.data()) + (good_sum ? 0 : 1));
  return b;
}

Bytes GatewayReplyFrame(uint8_t value, bool good_crc) {
  Bytes b(kGatewayFrameSize, 0);
  b[0] = 0x55;
  b[1] = 0xAA;
  b[2] = 0x02;
  b[3] = 0x02;
  b[6] = 0x60;
  b[7] = 0x12;
  b[8] = value;
  b[17] = static_cast<uint8_t>(GatewayCrc8(&b[2], 15) ^ (good_crc ? 0 : 0xFF));
  b[18] = 0x0D;
  return b;
}

Bytes Of(const LinkFrame& f) { return Bytes(f.begin(), f.end()); }
Bytes Of(const GatewayFrame& f) { return Bytes(f.begin(), f.end()); }
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// One describer over the whole table: replies take the address of the
// request before them.
TEST(FrameDescriber, DescribesEveryProtocolAndJudgesItsChecksum) {
  Bytes bad_checksum = RegisterFrame(kFrameReplyData, {1, 2, 3, 4, 5, 6, 7, 8});
  bad_checksum[11] ^= 0x5A;
  const uint8_t no_params[3] = {0, 0, 0};
  const uint8_t record[3] = {0x00, 0x01, 0x02};
  Bytes bad_crc = WithModbusCrc({0x60, 0x03, 0x02, 0x12, 0x34});
  bad_crc.back() ^= 0x01;
  const int32_t values[2] = {0x0102, 0x0304};

  struct Case {
    FrameDirection dir;
    Bytes bytes;
    std::string meaning;
    std::string verdict;
    FrameVerdict v;
    std::optional<uint16_t> address;
  };
  const std::vector<Case> cases = {
      {TX, Of(BuildRequestFrame(0x1001, 1, no_params, 0)), "request 0x1001 length 1", "checksum ok", FrameVerdict::Good, 0x1001},
      {RX, RegisterFrame(kFrameReplyHeader, {0x10, 0x01, 0x00, 0x01, 0, 0, 0, 0}), "reply header 0x1001 length 1", "checksum ok", FrameVerdict::Good, 0x1001},
      {RX, RegisterFrame(kFrameReplyData, {1, 2, 3, 4, 5, 6, 7, 8}), "reply data of 0x1001: 01 02 03 04 05 06 07 08", "checksum ok", FrameVerdict::Good, 0x1001},
      {RX, bad_checksum, "reply data of 0x1001: 01 02 03 04 05 06 07 08", "checksum BAD (0x16, expected 0x4C)", FrameVerdict::Bad, 0x1001},
      {TX, Of(BuildRequestFrame(0x6603, 3, record, 0)), "request 0x6603 length 3 param 258", "checksum ok", FrameVerdict::Good, 0x6603},
      {TX, Of(BuildRequestFrame(0x4006, 2, no_params, 1)), "request 0x4006 length 2 write count 1", "checksum ok", FrameVerdict::Good, 0x4006},
      {TX, Of(BuildPayloadFrame(PayloadFromText("AB\"\x01").data())), "write payload \"AB\\\"\\x01\"", "checksum ok", FrameVerdict::Good, 0x4006},
      {TX, {0x26, 0x0D, 0x0A}, "status poll", "-", FrameVerdict::None, std::nullopt},
      {RX, StatusBlock(true), "status block, 96 bytes", "sum ok", FrameVerdict::Good, std::nullopt},
      {RX, StatusBlock(false), "status block, 96 bytes", "sum BAD (0x3F, expected 0x3E)", FrameVerdict::Bad, std::nullopt},
      {TX, Text("#SHU_EN:ENABLE:000001\r"), "SHU EN \"#SHU_EN:ENABLE:000001\\x0D\"", "-", FrameVerdict::None, std::nullopt},
      {RX, Text("#SHU_EN:ACK:OK:0000001\r"), "SHU EN \"#SHU_EN:ACK:OK:0000001\\x0D\"", "-", FrameVerdict::None, std::nullopt},
      {TX, BuildModbusReadRequest(0x60, 0x03, 0x0100, 10), "Modbus slave 0x60 read 0x0100 quantity 10", "CRC ok", FrameVerdict::Good, 0x0100},
      {RX, WithModbusCrc({0x60, 0x03, 0x04, 0x00, 0x01, 0x00, 0x02}), "Modbus slave 0x60 read reply of 0x0100, 4 bytes: 00 01 00 02", "CRC ok", FrameVerdict::Good, 0x0100},
      {RX, bad_crc, "Modbus slave 0x60 read reply of 0x0100, 2 bytes: 12 34", "CRC BAD (0xFA08, expected 0xFB08)", FrameVerdict::Bad, 0x0100},
      {TX, BuildModbusWriteRequest(0x60, 0x16, 0x4307, 2, values), "Modbus slave 0x60 write 0x4307 quantity 2 data 01 02 03 04", "CRC ok", FrameVerdict::Good, 0x4307},
      {RX, WithModbusCrc({0x60, 0x16, 0x43, 0x07, 0x00, 0x02}), "Modbus slave 0x60 write echo 0x4307 quantity 2", "CRC ok", FrameVerdict::Good, 0x4307},
      {RX, WithModbusCrc({0x60, 0x83, 0x02}), "Modbus slave 0x60 exception of function 0x03 code 2", "CRC ok", FrameVerdict::Good, 0x4307},
      {TX, Of(BuildGatewayRequest(kGatewayKindRead, 0x60, 0x12)), "gateway request code 0x07 (register read), device 0x60 register 0x12", "CRC ok", FrameVerdict::Good, 0x12},
      {RX, GatewayReplyFrame(0x34, true), "gateway reply form 0x02, device 0x60 register 0x12 value 0x34", "CRC ok", FrameVerdict::Good, 0x12},
      {RX, GatewayReplyFrame(0x34, false), "gateway reply form 0x02, device 0x60 register 0x12 value 0x34", "CRC BAD (0x75, expected 0x8A)", FrameVerdict::Bad, 0x12},
      {RX, {0x40, 0x00, 0x03}, "3 bytes, no frame", "no frame", FrameVerdict::Bad, std::nullopt},
      {TX, {0x99}, "1 byte, no frame", "-", FrameVerdict::None, std::nullopt},
  };
  FrameDescriber describer;
  for (const Case& c : cases) {
    SCOPED_TRACE(FrameHex(c.bytes.data(), c.bytes.size()));
    const FrameDescription d = describer.describe(c.dir, c.bytes.data(), c.bytes.size());
    EXPECT_EQ(d.meaning, c.meaning);
    EXPECT_EQ(d.verdict_text, c.verdict);
    EXPECT_EQ(d.verdict, c.v);
    EXPECT_EQ(d.address, c.address);
  }
}

TEST(FrameDescriber, CutsABurstIntoTheFramesOfTheLink) {
  const Bytes header = RegisterFrame(kFrameReplyHeader, {0x10, 0x01, 0x00, 0x01, 0, 0, 0, 0});
  const Bytes data = RegisterFrame(kFrameReplyData, {1, 2, 3, 4, 5, 6, 7, 8});
  auto cat = [](std::vector<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  struct Case {
    const char* name;
    Bytes burst;
    std::vector<size_t> lengths;
  };
  const std::vector<Case> cases = {
      {"two reply frames", cat({header, data}), {13, 13}},
      {"noise in front of a frame", cat({{0x07, 0x99, 0x40}, header}), {3, 13}},
      {"a frame cut short", Bytes(header.begin(), header.begin() + 12), {12}},
      {"zero bytes after a frame", cat({header, {0, 0}}), {13, 2}},
      {"status block", StatusBlock(true), {96}},
      {"SHU EN acknowledgement", Text("#SHU_EN:ACK:OK:0000001\r"), {23}},
      {"Modbus read reply and a stray byte", cat({WithModbusCrc({0x60, 0x03, 0x02, 0x12, 0x34}), {0xFF}}), {7, 1}},
      {"gateway reply", GatewayReplyFrame(1, true), {19}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitIncoming(c.burst.data(), c.burst.size()), c.lengths) << c.name;
}

TEST(FrameDescriber, LineShowsTimeWaitDirectionBytesMeaningAndVerdict) {
  FrameDescriber describer;
  TappedFrame first{1, 1000, TX, 0, {0x26, 0x0D, 0x0A}};
  TappedFrame second{5, 1057, RX, 3, {0x40, 0x00, 0x03}};
  EXPECT_EQ(FrameLine(describer.row(first)), "      1000 ms |          - | TX | 26 0D 0A | status poll | -");
  const FrameRow r = describer.row(second);
  EXPECT_EQ(r.skipped_before, 3u);
  EXPECT_EQ(FrameLine(r), "      1057 ms |     +57 ms | RX | 40 00 03 | 3 bytes, no frame | no frame");
  EXPECT_EQ(SkippedLine(3), "-- 3 frames skipped (the queue was full) --");
  EXPECT_EQ(SkippedLine(1), "-- 1 frame skipped (the queue was full) --");
}

// A slow consumer, a known queue size and a known number of frames: every
// frame is either delivered or counted, and each count stands where the
// frames went missing.
TEST(FrameQueueTest, DropsWhatDoesNotFitAndCountsItExactly) {
  FrameTapPoint tap;
  EXPECT_FALSE(tap.listening());
  auto q = std::make_shared<FrameQueue>(16);
  tap.attach(q);
  EXPECT_TRUE(tap.listening());
  std::vector<TappedFrame> got;
  const uint8_t byte = 0x26;
  for (int round = 0; round < 20; ++round) {
    for (int i = 0; i < 50; ++i) tap.written(round * 50 + i, &byte, 1);
    q->take(got);
  }
  EXPECT_EQ(q->offered(), 1000u);
  EXPECT_EQ(q->dropped(), 680u);
  ASSERT_EQ(got.size(), 320u);
  uint64_t announced = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    announced += got[i].skipped_before;
    // The first 16 of each round of 50 get through; the first of every
    // later round announces the 34 dropped before it.
    EXPECT_EQ(got[i].seq, (i / 16) * 50 + i % 16 + 1);
    EXPECT_EQ(got[i].skipped_before, i % 16 == 0 && i > 0 ? 34u : 0u) << i;
  }
  EXPECT_EQ(announced, 680u - 34u);
  EXPECT_EQ(q->dropped_pending(), 34u) << "the drops of the last round wait for the next frame";

  tap.detach(q);
  EXPECT_FALSE(tap.listening());
  tap.written(5000, &byte, 1);
  EXPECT_EQ(q->offered(), 1000u) << "a detached queue gets nothing";
}

class FrameTraceTest : public SimFixture {
 protected:
  void Start() {
    ctx.app.exe_name = "TQ58_LIT_bmsmon";
    ctx.app.data_folder = tmp.path() + "/";
    ctx.app.current_dir = tmp.path() + "/";
    CreateApplication(ctx);
    ctx.FormConfig.CobBoxInterfaceName.set_text(sim::kVirtualPortName);
    SpdBtnYESClick(ctx);
  }
  void Run(int cycles) {
    int done = 0;
    ctx.MonitorCycleHook = [this, cycles, &done](bool completed) {
      if (completed && ++done >= cycles) ctx.RunFlag = 0;
    };
    ctx.FormMain.SpdBtnRUN.click();
    ctx.MonitorCycleHook = nullptr;
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
  }
  struct Parsed {
    int64_t t_ms;
    std::string wait, dir, hex, meaning, verdict;
  };
  static Parsed Parse(const std::string& line) {
    std::vector<std::string> f;
    size_t at = 0;
    for (size_t bar; (bar = line.find(" | ", at)) != std::string::npos; at = bar + 3) f.push_back(line.substr(at, bar - at));
    f.push_back(line.substr(at));
    EXPECT_EQ(f.size(), 6u) << line;
    f.resize(6);
    return {std::stoll(f[0]), f[1], f[2], f[3], f[4], f[5]};
  }

  testing::TempFolder tmp;
};

// A bad checksum from a fault rule is listed as a failed frame, with the
// very bytes the pack sent.
TEST_F(FrameTraceTest, ABadChecksumIsAFailedFrameWithItsBytes) {
  ASSERT_TRUE(OpenLinkPort(ctx));
  auto q = std::make_shared<FrameQueue>(64);
  ctx.FrameTaps.attach(q);
  sim::Fault f = sim::Fault::Make(sim::FaultMatch::Register(0x1001), sim::FaultAction::BadChecksum);
  f.frame = 1;
  pack.faults().add(f);
  ASSERT_TRUE(SendRequest(ctx, 0x1001, 1));
  EXPECT_FALSE(AwaitReplyDecode(ctx));
  ctx.FrameTaps.detach(q);
  CloseLinkPort(ctx);

  std::vector<TappedFrame> frames;
  q->take(frames);
  ASSERT_EQ(frames.size(), 3u);
  Bytes pack_sent;
  for (const auto& e : wire.pack_bytes()) pack_sent.insert(pack_sent.end(), e.bytes.begin(), e.bytes.end());
  ASSERT_EQ(pack_sent.size(), 26u);
  FrameDescriber describer;
  const FrameRow request = describer.row(frames[0]);
  const FrameRow header = describer.row(frames[1]);
  const FrameRow data = describer.row(frames[2]);
  EXPECT_EQ(request.d.verdict, FrameVerdict::Good);
  EXPECT_EQ(header.d.verdict, FrameVerdict::Good);
  EXPECT_EQ(frames[1].bytes, Bytes(pack_sent.begin(), pack_sent.begin() + 13));
  EXPECT_EQ(frames[2].bytes, Bytes(pack_sent.begin() + 13, pack_sent.end()));
  EXPECT_EQ(data.d.kind, FrameKind::ReplyData);
  EXPECT_EQ(data.d.verdict, FrameVerdict::Bad);
  const uint8_t sum = FrameChecksum(frames[2].bytes.data());
  ASSERT_NE(sum, frames[2].bytes[11]);
  char expected[64];
  std::snprintf(expected, sizeof expected, "checksum BAD (0x%02X, expected 0x%02X)", frames[2].bytes[11], sum);
  EXPECT_EQ(data.d.verdict_text, expected);
  EXPECT_EQ(data.hex, FrameHex(pack_sent.data() + 13, 13));
}

// The trace of three polling cycles holds the frames of the wire log: the
// same bytes in the same order, each write stamped when it started, each
// reply when the read handed it over.
TEST_F(FrameTraceTest, TraceOfPollingMatchesTheWireLog) {
  Start();
  FrameTrace trace(ctx.FrameTaps);
  ASSERT_TRUE(trace.start(tmp / "trace.txt"));
  Run(3);
  trace.finish();
  EXPECT_FALSE(trace.failed()) << trace.error();
  EXPECT_EQ(trace.frames_skipped(), 0u);

  const std::vector<std::string> lines = Lines(tmp.read("trace.txt"));
  ASSERT_GT(lines.size(), 10u);
  EXPECT_EQ(trace.frames_written(), lines.size());
  const auto writes = wire.host_writes();
  const auto replies = wire.pack_bytes();
  size_t w = 0;
  std::string rx_hex, wire_rx_hex;
  int64_t previous = -1;
  for (const std::string& line : lines) {
    const Parsed p = Parse(line);
    EXPECT_EQ(p.verdict.find("BAD"), std::string::npos) << line;
    EXPECT_NE(p.verdict, "no frame") << line;
    if (previous < 0)
      EXPECT_EQ(p.wait, "         -");
    else
      EXPECT_EQ(std::stoll(p.wait), p.t_ms - previous) << line;
    EXPECT_GE(p.t_ms, previous) << line;
    previous = p.t_ms;
    if (p.dir == "TX") {
      ASSERT_LT(w, writes.size()) << line;
      EXPECT_EQ(p.hex, sim::HexBytes(writes[w].bytes.data(), writes[w].bytes.size())) << line;
      EXPECT_EQ(p.t_ms, writes[w].t_ms()) << line;
      ++w;
    } else {
      ASSERT_EQ(p.dir, "RX");
      rx_hex += (rx_hex.empty() ? "" : " ") + p.hex;
      // The read hands a reply over after its last byte came, and a read
      // that asked for more bytes than came (all but the status block, read
      // for its 96 bytes) waits the interval gap (50 ms) after it.
      const sim::WireEntry* burst = nullptr;
      for (const auto& e : replies)
        if (e.end_us() <= p.t_ms * 1000) burst = &e;
      ASSERT_NE(burst, nullptr) << line;
      const int64_t arrived_ms = (burst->end_us() + 999) / 1000;
      EXPECT_GE(p.t_ms - arrived_ms, p.meaning.rfind("status block", 0) == 0 ? 0 : 50) << line;
    }
  }
  EXPECT_EQ(w, writes.size());
  for (const auto& e : replies) wire_rx_hex += (wire_rx_hex.empty() ? "" : " ") + sim::HexBytes(e.bytes.data(), e.bytes.size());
  EXPECT_EQ(rx_hex, wire_rx_hex);
}

// The gateway's own port is tapped too: its request and reply, with the
// bytes of the wire and the write stamped when it started.
TEST_F(FrameTraceTest, GatewayFramesAreTappedOnTheirOwnPort) {
  auto q = std::make_shared<FrameQueue>(16);
  ctx.FrameTaps.attach(q);
  std::unique_ptr<SerialPort> port;
  ASSERT_TRUE(OpenGatewayPort(ctx, sim::kVirtualPortName, port));
  ASSERT_TRUE(SendGatewayRequest(*port, kGatewayKindRead, kOz890Address, 0x05));
  uint8_t value = 0;
  ASSERT_TRUE(ReadGatewayReply(*port, kOz890Address, 0x05, &value));
  port->close();
  ctx.FrameTaps.detach(q);

  std::vector<TappedFrame> frames;
  q->take(frames);
  ASSERT_EQ(frames.size(), 2u);
  const auto writes = wire.host_writes();
  const auto replies = wire.pack_bytes();
  ASSERT_EQ(writes.size(), 1u);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(frames[0].dir, TX);
  EXPECT_EQ(frames[0].bytes, writes[0].bytes);
  EXPECT_EQ(frames[0].t_ms, writes[0].t_ms());
  EXPECT_EQ(frames[1].dir, RX);
  EXPECT_EQ(frames[1].bytes, replies[0].bytes);
  FrameDescriber describer;
  EXPECT_EQ(describer.row(frames[0]).d.meaning, "gateway request code 0x07 (register read), device 0x60 register 0x05");
  const FrameRow reply = describer.row(frames[1]);
  EXPECT_EQ(reply.d.kind, FrameKind::GatewayReply);
  EXPECT_EQ(reply.d.verdict_text, "CRC ok");
}

// A trace never replaces a file: a taken name is refused, the file kept.
TEST_F(FrameTraceTest, ATakenNameIsRefusedAndNothingIsTapped) {
  tmp.write("trace.txt", "keep me\n");
  FrameTrace trace(ctx.FrameTaps);
  std::string why;
  EXPECT_FALSE(trace.start(tmp / "trace.txt", &why));
  EXPECT_FALSE(why.empty());
  EXPECT_TRUE(trace.failed());
  EXPECT_FALSE(ctx.FrameTaps.listening());
  EXPECT_EQ(tmp.read("trace.txt"), "keep me\n");
}

// Under a flood the trace says where frames were skipped and how many,
// and at the end how many it lost after the last line.
TEST_F(FrameTraceTest, TraceMarksEverySkipWithItsExactCount) {
  FrameTrace trace(ctx.FrameTaps, 4);
  ASSERT_TRUE(trace.start(tmp / "flood.txt"));
  const uint8_t poll[3] = {0x26, 0x0D, 0x0A};
  for (int i = 0; i < 10; ++i) ctx.FrameTaps.written(i, poll, 3);
  trace.pump();
  for (int i = 10; i < 17; ++i) ctx.FrameTaps.written(i, poll, 3);
  trace.finish();
  const std::vector<std::string> lines = Lines(tmp.read("flood.txt"));
  ASSERT_EQ(lines.size(), 4u + 1u + 4u + 1u);
  EXPECT_EQ(Parse(lines[3]).t_ms, 3);
  EXPECT_EQ(lines[4], "-- 6 frames skipped (the queue was full) --");
  EXPECT_EQ(Parse(lines[5]).t_ms, 10);
  EXPECT_EQ(Parse(lines[5]).wait, "     +7 ms");
  EXPECT_EQ(lines[9], "-- 3 frames skipped (the queue was full) --");
  EXPECT_EQ(trace.frames_written(), 8u);
  EXPECT_EQ(trace.frames_skipped(), 9u);
}

}  // namespace
}  // namespace bms
