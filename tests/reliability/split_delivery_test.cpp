// Every reply of every protocol, delivered whole, split at each byte with a
// pause under the interval rule, and byte by byte, decodes the same; a pause
// longer than the interval rule ends the read after the bytes before it, as
// the link layer says. All in virtual time over the in-process port.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "core/link/frame.h"
#include "core/link/gateway.h"
#include "core/link/link_port.h"
#include "core/link/modbus.h"
#include "sim_fixture.h"

namespace bms {
namespace {

// The interval rule of the link: a read ends 50 ms after the last byte.
constexpr int64_t kIntervalMs = 50;

// What an exchange showed: its result and everything the windows and the
// reply records hold afterwards (the activity lamps aside, they only count).
struct Outcome {
  bool ok = false;
  std::string shown;
};

std::string Shown(Context& ctx, const std::string& extra) {
  std::string s = extra;
  for (Form* f : ctx.forms()) {
    for (const Control* c : f->controls()) {
      if (c->name().rfind("Shape_", 0) == 0) continue;
      s += c->name() + "=" + c->text() + (c->checked() ? " [x]" : "") + "\n";
    }
  }
  for (const ReplyRecord& r : ctx.ReplyRecords.get()) s += sim::HexBytes(r.data(), r.size()) + "\n";
  return s;
}

struct ReplyKind {
  std::string name;
  size_t size;  // bytes of the reply
  bool gateway = false;
  bool accepted = true;  // the whole reply is taken as good
  // The request goes out without a purge before it (the Modbus write, the
  // gateway): the tail of a cut reply, still waiting, is read in front of
  // the next reply.
  bool no_purge_before_request = false;
  // Sends the request and takes the reply; `note` gets what the caller saw
  // beyond the windows (the gateway's check and value).
  std::function<bool(SimBench&, SerialPort*, std::string& note)> exchange;
  std::function<std::string(SimBench&)> extra = [](SimBench&) { return std::string(); };
};

void PrintTo(const ReplyKind& k, std::ostream* os) { *os << k.name; }

std::string Hex16(uint16_t v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04X", v);
  return b;
}

ReplyKind RegisterRead(uint16_t address, uint16_t page, uint32_t record = 0) {
  ReplyKind k;
  k.name = "read " + Hex16(address) + "/" + std::to_string(page) + (record ? " record " + std::to_string(record) : "");
  k.size = 2 * kFrameSize;
  k.exchange = [address, page, record](SimBench& b, SerialPort*, std::string&) {
    b.ctx.FormMain.EditBarCode32.set_text("");  // pages 2 to 4 of a barcode add to it
    SendRequestWide(b.ctx, address, page, record, 0);
    return AwaitReplyDecode(b.ctx);
  };
  return k;
}

std::vector<ReplyKind> AllReplyKinds() {
  std::vector<ReplyKind> kinds;
  // The read kinds of the register map.
  for (uint16_t a : {0x0005, 0x0006, 0x1005, 0x2001, 0x200B, 0x6100, 0x6101, 0x6102, 0x6103, 0x6104, 0x6200, 0x6201, 0x6202, 0x6203, 0x6205, 0x6206, 0x6500, 0x6600, 0x6602})
    kinds.push_back(RegisterRead(a, 0));
  for (uint16_t page = 1; page <= 4; ++page) kinds.push_back(RegisterRead(0x1001, page));
  kinds.push_back(RegisterRead(0x100B, 1));
  kinds.push_back(RegisterRead(0x100C, 1));
  kinds.push_back(RegisterRead(0x100D, 1));
  kinds.push_back(RegisterRead(0x100E, 1));
  kinds.push_back(RegisterRead(0x2008, 1));
  kinds.push_back(RegisterRead(0x200A, 2));
  kinds.push_back(RegisterRead(0x6207, 1));
  kinds.push_back(RegisterRead(0x3300, 1));
  kinds.push_back(RegisterRead(0x6204, 1));
  kinds.push_back(RegisterRead(0x6501, 1, 1));
  kinds.push_back(RegisterRead(0x6601, 2, 1));
  kinds.push_back(RegisterRead(0x6603, 4, 1));

  ReplyKind echo;
  echo.name = "write echo 4006";
  echo.size = kFrameSize;
  echo.exchange = [](SimBench& b, SerialPort*, std::string&) {
    const uint8_t when[8] = {26, 12, 9, 10, 20, 30, 0, 0};
    SendRequest(b.ctx, 0x4006, 0, 6);
    b.clock.sleep_ms(100);
    SendPayloadBytes(b.ctx, when);
    return AwaitEcho(b.ctx, 0x4006, 0);
  };
  kinds.push_back(echo);

  ReplyKind status;
  status.name = "status block";
  status.size = kStatusBlockSize;
  status.exchange = [](SimBench& b, SerialPort*, std::string&) {
    SendStatusPoll(b.ctx);
    return ReadStatusBlock(b.ctx);
  };
  kinds.push_back(status);

  ReplyKind shu;
  shu.name = "SHU EN acknowledgement";
  shu.size = DefaultShuEnableConfig().acknowledge.size();
  shu.exchange = [](SimBench& b, SerialPort*, std::string&) {
    SendShuEnable(b.ctx);
    return AwaitShuEnableAck(b.ctx);
  };
  kinds.push_back(shu);

  auto tables = [](SimBench& b) {
    std::string s;
    for (int32_t w : b.ctx.ModbusReadWords.get()) s += std::to_string(w) + " ";
    return s;
  };
  ReplyKind mread;
  mread.name = "Modbus read of block C";
  mread.size = 2 * 120 + 5;
  mread.exchange = [](SimBench& b, SerialPort*, std::string&) { return ModbusReadRegisters(b.ctx, 0x4207, 120); };
  mread.extra = tables;
  kinds.push_back(mread);

  ReplyKind mwrite;
  mwrite.name = "Modbus write echo";
  mwrite.size = 8;
  mwrite.no_purge_before_request = true;
  mwrite.exchange = [](SimBench& b, SerialPort*, std::string&) {
    b.ctx.ModbusWriteWords.with([](auto& w) { w[0] = 1234; });
    return ModbusWriteRegisters(b.ctx, 0x4307, 1);
  };
  kinds.push_back(mwrite);

  ReplyKind mexception;
  mexception.name = "Modbus exception reply";
  mexception.size = 5;
  mexception.accepted = false;  // the master takes only a read reply of its quantity
  mexception.exchange = [](SimBench& b, SerialPort*, std::string&) { return ModbusReadRegisters(b.ctx, 0x5000, 4); };
  mexception.extra = tables;
  kinds.push_back(mexception);

  for (uint8_t reg : {0x00, 0x31, 0x7F}) {
    ReplyKind g;
    g.name = "gateway read of OZ890 register " + std::to_string(reg);
    g.size = kGatewayFrameSize;
    g.gateway = true;
    g.no_purge_before_request = true;
    g.exchange = [reg](SimBench&, SerialPort* port, std::string& note) {
      uint8_t value = 0;
      GatewayReply check = GatewayReply::Valid;
      SendGatewayRequest(*port, kGatewayKindRead, kOz890Address, reg);
      const bool ok = ReadGatewayReply(*port, kOz890Address, reg, &value, &check);
      note = std::string(GatewayReplyText(check)) + " " + std::to_string(value);
      return ok;
    };
    kinds.push_back(g);
  }
  return kinds;
}

// One bench with the port open as the reply kind needs it.
struct Bench {
  explicit Bench(const ReplyKind& k) : kind(k) {
    bench.pack.update([](sim::Scenario& s) {
      for (size_t i = 0; i < s.oz890_eeprom.size(); ++i) s.oz890_eeprom[i] = static_cast<uint8_t>(0xA0 ^ i);
    });
    if (kind.gateway) {
      opened = OpenGatewayPort(bench.ctx, sim::kVirtualPortName, gateway);
    } else {
      opened = OpenLinkPort(bench.ctx);
    }
  }
  ~Bench() {
    if (!kind.gateway) CloseLinkPort(bench.ctx);
  }

  // Runs the exchange with the answer paced by `gaps`; *ms: how long it took.
  Outcome Run(std::vector<std::pair<size_t, int64_t>> gaps, int64_t* ms) {
    bench.pack.set_reply_gaps(std::move(gaps));
    bench.wire.clear();
    const int64_t t0 = bench.clock.now_ms();
    Outcome o;
    std::string note;
    o.ok = kind.exchange(bench, gateway.get(), note);
    *ms = bench.clock.now_ms() - t0;
    o.shown = Shown(bench.ctx, kind.extra(bench) + note);
    bench.pack.set_reply_gaps({});
    return o;
  }

  const ReplyKind& kind;
  SimBench bench;
  std::unique_ptr<SerialPort> gateway;
  bool opened = false;
};

std::vector<std::pair<size_t, int64_t>> GapAt(size_t at, int64_t ms) { return {{at, ms * 1000}}; }

std::vector<std::pair<size_t, int64_t>> GapAtEveryByte(size_t size, int64_t ms) {
  std::vector<std::pair<size_t, int64_t>> g;
  for (size_t at = 1; at < size; ++at) g.emplace_back(at, ms * 1000);
  return g;
}

class SplitDelivery : public ::testing::TestWithParam<ReplyKind> {};

TEST_P(SplitDelivery, WholeSplitUnderTheIntervalAndByteByByteDecodeTheSame) {
  const ReplyKind& kind = GetParam();
  Bench whole_bench(kind);
  ASSERT_TRUE(whole_bench.opened);
  int64_t whole_ms = 0;
  const Outcome whole = whole_bench.Run({}, &whole_ms);
  ASSERT_EQ(whole.ok, kind.accepted);
  size_t arrived = 0;
  for (const auto& e : whole_bench.bench.wire.pack_bytes()) arrived += e.bytes.size();
  ASSERT_EQ(arrived, kind.size) << whole_bench.bench.wire.dump();

  // Split at each byte: once with the longest pause the rule allows, once
  // with a pause that walks through 0..49 ms. Each pause adds its length
  // to the exchange, to the millisecond, and changes nothing else.
  for (size_t at = 1; at < kind.size; ++at) {
    for (const int64_t gap : {kIntervalMs - 1, static_cast<int64_t>((at * 7) % kIntervalMs)}) {
      Bench b(kind);
      int64_t ms = 0;
      const Outcome split = b.Run(GapAt(at, gap), &ms);
      ASSERT_EQ(split.ok, whole.ok) << "split before byte " << at << ", " << gap << " ms";
      ASSERT_EQ(split.shown, whole.shown) << "split before byte " << at << ", " << gap << " ms";
      ASSERT_EQ(ms, whole_ms + gap) << "split before byte " << at << ", " << gap << " ms";
    }
  }

  // Byte by byte, with pauses that keep the longest reply (245 bytes)
  // inside its total time-out.
  for (const int64_t gap : {int64_t{1}, int64_t{20}}) {
    Bench b(kind);
    int64_t ms = 0;
    const Outcome bytewise = b.Run(GapAtEveryByte(kind.size, gap), &ms);
    EXPECT_EQ(bytewise.ok, whole.ok) << gap << " ms between bytes";
    EXPECT_EQ(bytewise.shown, whole.shown) << gap << " ms between bytes";
    EXPECT_EQ(ms, whole_ms + static_cast<int64_t>(kind.size - 1) * gap) << gap << " ms between bytes";
  }
}

TEST_P(SplitDelivery, APauseOverTheIntervalEndsTheReadAfterTheBytesBeforeIt) {
  const ReplyKind& kind = GetParam();
  Bench untouched(kind);
  ASSERT_TRUE(untouched.opened);
  // A gateway read cut short says so; everything else shows as before.
  const std::string note = kind.gateway ? std::string(GatewayReplyText(GatewayReply::Short)) + " 0" : std::string();
  const std::string before = Shown(untouched.bench.ctx, kind.extra(untouched.bench) + note);

  for (size_t at = 1; at < kind.size; ++at) {
    Bench b(kind);
    int64_t ms = 0;
    const Outcome cut = b.Run(GapAt(at, kIntervalMs), &ms);
    const auto pieces = b.bench.wire.pack_bytes();
    ASSERT_EQ(pieces.size(), 2u) << b.bench.wire.dump();
    ASSERT_EQ(pieces[0].bytes.size(), at);
    // The read ended the interval after the last byte before the pause.
    const int64_t end_ms = b.bench.clock.now_ms();
    ASSERT_EQ(end_ms, (pieces[0].end_us() + kIntervalMs * 1000 + 999) / 1000) << "cut before byte " << at;
    EXPECT_FALSE(cut.ok) << "cut before byte " << at;

    const auto records = b.bench.ctx.ReplyRecords.get();
    if (!kind.gateway && kind.size == 2 * kFrameSize && at == kFrameSize) {
      // The header frame alone is a well-formed one-frame reply: the link
      // layer takes it into record 0, the waiter refuses its shape.
      EXPECT_EQ(records[0][1], kFrameReplyHeader) << kind.name;
      EXPECT_EQ(std::vector<uint8_t>(records[1].begin(), records[1].end()), std::vector<uint8_t>(10, 0));
    } else if (!kind.gateway && kind.size == 2 * kFrameSize) {
      for (const ReplyRecord& r : records) ASSERT_EQ(std::vector<uint8_t>(r.begin(), r.end()), std::vector<uint8_t>(10, 0)) << "cut before byte " << at;
    }
    // Nothing of the cut reply reached the windows or the tables.
    std::string now = cut.shown;
    if (!kind.gateway && kind.size == 2 * kFrameSize && at == kFrameSize) {
      // (record 0 aside)
      const std::string header = sim::HexBytes(records[0].data(), records[0].size()) + "\n";
      const size_t p = now.find(header);
      ASSERT_NE(p, std::string::npos);
      now.replace(p, header.size(), sim::HexBytes(records[1].data(), records[1].size()) + "\n");
    }
    ASSERT_EQ(now, before) << "cut before byte " << at;

    // The rest of the reply arrives later. Where a purge goes before the
    // next request it drops the rest and the next exchange is good again.
    b.bench.clock.advance(500);
    int64_t again_ms = 0;
    // (A tail short enough to be in by the purge after the Modbus master's
    // read, on the clock's millisecond, is gone with it.)
    const bool tail_purged = !kind.gateway && pieces[1].end_us() <= end_ms * 1000;
    if (!kind.no_purge_before_request || tail_purged) {
      ASSERT_EQ(b.Run({}, &again_ms).ok, kind.accepted) << "after the cut before byte " << at;
      continue;
    }
    ASSERT_FALSE(b.Run({}, &again_ms).ok) << "the tail of the cut reply read in front of the next, cut before byte " << at;
    if (kind.gateway) {
      // Opening the gateway port again clears its buffers.
      b.bench.clock.advance(500);
      b.gateway.reset();
      ASSERT_TRUE(OpenGatewayPort(b.bench.ctx, sim::kVirtualPortName, b.gateway));
    }
    // The next write is cut the same way: its read ends when eight bytes
    // are in, the rest of its own echo arrives after the purge that follows
    // that read. A Modbus read request, with its purge before the write,
    // clears the line.
    b.bench.clock.advance(500);
    if (!kind.gateway) {
      ASSERT_FALSE(b.Run({}, &again_ms).ok) << "cut before byte " << at;
      b.bench.clock.advance(500);
      ASSERT_TRUE(ModbusReadRegisters(b.bench.ctx, 0x4207, 1));
    }
    ASSERT_TRUE(b.Run({}, &again_ms).ok) << "two exchanges after the cut before byte " << at;
  }
}

std::string KindName(const ::testing::TestParamInfo<ReplyKind>& p) {
  std::string n;
  for (char c : p.param.name) n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return n;
}

INSTANTIATE_TEST_SUITE_P(AllReplies, SplitDelivery, ::testing::ValuesIn(AllReplyKinds()), KindName);

}  // namespace
}  // namespace bms
