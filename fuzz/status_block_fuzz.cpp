// The status block and the SHU EN acknowledgement through a fuzzed port.
// The verdict is checked against the framing rules of the block (96 bytes,
// 0x4A first, the 8-bit sum of bytes 1..94 in byte 95); an accepted block
// must show exactly the values its bytes hold, a rejected one nothing.
#include <string>

#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "fuzz_support.h"

using namespace bms;
using namespace bms::fuzz;

namespace {

void FixStatusSum(std::vector<uint8_t>& b) {
  if (b.size() >= kStatusBlockSize) b[95] = StatusBlockSum(b.data());
}

uint32_t Be32(const std::vector<uint8_t>& b, size_t i) {
  return static_cast<uint32_t>(b[i]) << 24 | static_cast<uint32_t>(b[i + 1]) << 16 | static_cast<uint32_t>(b[i + 2]) << 8 | b[i + 3];
}

// The 8-bit sum of bytes 1..94, written out here so the model does not lean
// on the code under test.
uint8_t Sum94(const std::vector<uint8_t>& b) {
  unsigned sum = 0;
  for (size_t i = 1; i <= 94; ++i) sum += b[i];
  return static_cast<uint8_t>(sum);
}

bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

BMS_FUZZ_TARGET(status_block) {
  Input in(data, size);
  const uint8_t mode = in.u8();
  const bool fix = mode & 0x80;
  const bool shu = mode & 0x01;
  Bench& b = SharedBench();
  b.ctx.FormMain.TabSheetXJ.set_visible(mode & 0x02);
  b.ctx.FormMain.TabSheetPQ.set_visible(mode & 0x04);
  b.wire->bursts = ReadBursts(in, fix ? FixStatusSum : std::function<void(std::vector<uint8_t>&)>());
  if (!OpenLinkPort(b.ctx)) Fail(__FILE__, __LINE__, "the fuzzed port did not open");

  const size_t want = shu ? b.ctx.ShuEnable.acknowledge.size() : kStatusBlockSize;
  std::vector<uint8_t> first;
  bool ok = false;
  if (!b.wire->bursts.empty()) {
    const Burst& f = b.wire->bursts.front();
    const bool overflow = f.bytes.size() > kStatusBufferSize;
    first.assign(f.bytes.begin(), f.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(f.bytes.size(), want)));
    const bool read_fails = f.fail && f.bytes.size() <= want;
    ok = !overflow && !read_fails && first.size() == want;
  }
  const size_t before = b.changes.mark();
  const uint64_t valid_before = b.ctx.ValidReplies.load();

  if (shu) {
    const bool acked = AwaitShuEnableAck(b.ctx);
    BMS_FUZZ_CHECK(acked == (ok && first == b.ctx.ShuEnable.acknowledge), "SHU EN acknowledgement verdict");
    BMS_FUZZ_CHECK(b.changes.since(before).empty(), "the SHU EN acknowledgement changed the display: " + Joined(b.changes.since(before)));
    CloseLinkPort(b.ctx);
    return 0;
  }

  const bool accepted = ReadStatusBlock(b.ctx);
  const bool model = ok && first[0] == kStatusBlockStart && Sum94(first) == first[95];
  BMS_FUZZ_CHECK(accepted == model, "status block verdict differs from its framing checks");
  if (!accepted) {
    BMS_FUZZ_CHECK(b.changes.since(before).empty(), "a rejected status block changed the display: " + Joined(b.changes.since(before)));
    BMS_FUZZ_CHECK(b.ctx.ValidReplies.load() == valid_before, "a rejected status block was counted");
    CloseLinkPort(b.ctx);
    return 0;
  }
  BMS_FUZZ_CHECK(b.ctx.ValidReplies.load() == valid_before + 1, "an accepted status block is counted once");

  const LiveData live = b.ctx.Live.get();
  const TFormMain& m = b.ctx.FormMain;
  BMS_FUZZ_CHECK(live.Asoc == first[1] && live.Rsoc == first[2], "state of charge");
  BMS_FUZZ_CHECK(live.CycleCount == (first[3] << 8 | first[4]), "cycle count");
  BMS_FUZZ_CHECK(live.PackCurrent == static_cast<int32_t>(Be32(first, 23)), "pack current");
  BMS_FUZZ_CHECK(live.PackVoltage == Be32(first, 27), "pack voltage");
  BMS_FUZZ_CHECK(live.T1 == static_cast<int8_t>(first[50]) && live.T2 == static_cast<int8_t>(first[51]) && live.T3 == static_cast<int8_t>(first[52]), "temperatures");
  BMS_FUZZ_CHECK(live.OverCurrentActive == ((first[48] & 0x04) != 0), "over-current flag");
  BMS_FUZZ_CHECK(m.EditASOC.text() == std::to_string(first[1]), "EditASOC " + m.EditASOC.text());
  BMS_FUZZ_CHECK(m.EditPackCurrent.text() == std::to_string(static_cast<int32_t>(Be32(first, 23))), "EditPackCurrent " + m.EditPackCurrent.text());
  BMS_FUZZ_CHECK(m.EditPackVolt.text() == std::to_string(Be32(first, 27)), "EditPackVolt " + m.EditPackVolt.text());
  BMS_FUZZ_CHECK(m.EditT1.text() == std::to_string(static_cast<int8_t>(first[50])), "EditT1 " + m.EditT1.text());
  for (const Control* gauge : {&m.CGaugeASOC, &m.CGaugeRSOC})
    BMS_FUZZ_CHECK(gauge->progress() >= gauge->min() && gauge->progress() <= gauge->max(), gauge->name() + " outside its range");
  const std::string fwid = m.EditFWID.text();
  BMS_FUZZ_CHECK(fwid.size() <= 12 && fwid.find('\0') == std::string::npos, "EditFWID holds at most the 12 bytes before a zero");
  BMS_FUZZ_CHECK(live.ModelName == fwid.substr(0, fwid.find(' ')), "model name is the firmware id up to its first blank");
  const std::string serial = m.EditPDSN.text();
  BMS_FUZZ_CHECK(serial.size() <= 8, "EditPDSN longer than 8");
  for (char c : serial) BMS_FUZZ_CHECK(IsAlnum(c), "EditPDSN holds a byte that is no letter or digit");
  CloseLinkPort(b.ctx);
  return 0;
}
