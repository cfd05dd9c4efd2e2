#include "sim/faults.h"

#include <gtest/gtest.h>

#include "core/link/frame.h"
#include "sim/pack_helpers.h"
#include "sim/virtual_pack.h"

namespace bms::sim {
namespace {

using namespace bms::sim::testing;

// The clean answer to 0x1001 page 1 of the default pack.
std::vector<uint8_t> CleanReply() {
  VirtualClock clock;
  VirtualPack pack(clock);
  return Send(pack, Request(0x1001, 1));
}

Fault With(FaultAction a, std::function<void(Fault&)> set = nullptr) {
  Fault f = Fault::Make(FaultMatch::Register(0x1001, 1), a);
  if (set) set(f);
  return f;
}

TEST(Faults, EachActionShapesTheAnswer) {
  const std::vector<uint8_t> clean = CleanReply();
  ASSERT_EQ(clean.size(), 26u);
  const double spacing = ByteTimeUs(kBaud);
  const int64_t start = WireOffsetUs(13, spacing) + 3000;
  struct Case {
    const char* what;
    Fault fault;
    std::function<void(const std::vector<Burst>&)> check;
  };
  auto joined = [](const std::vector<Burst>& bursts) {
    std::vector<uint8_t> all;
    for (const Burst& b : bursts) all.insert(all.end(), b.bytes.begin(), b.bytes.end());
    return all;
  };
  const Case cases[] = {
      {"silence", With(FaultAction::Silence), [&](const std::vector<Burst>& b) { EXPECT_TRUE(b.empty()); }},
      {"bad checksum, first frame", With(FaultAction::BadChecksum),
       [&](const std::vector<Burst>& b) {
         auto r = joined(b);
         ASSERT_EQ(r.size(), 26u);
         EXPECT_NE(r[11], FrameChecksum(r.data()));
         EXPECT_EQ(r[24], FrameChecksum(r.data() + 13));
       }},
      {"bad checksum, second frame", With(FaultAction::BadChecksum, [](Fault& f) { f.frame = 1; }),
       [&](const std::vector<Burst>& b) {
         auto r = joined(b);
         ASSERT_EQ(r.size(), 26u);
         EXPECT_EQ(r[11], FrameChecksum(r.data()));
         EXPECT_NE(r[24], FrameChecksum(r.data() + 13));
       }},
      {"drop 5 bytes", With(FaultAction::DropBytes, [](Fault& f) { f.count = 5; }),
       [&](const std::vector<Burst>& b) { EXPECT_EQ(joined(b), std::vector<uint8_t>(clean.begin(), clean.begin() + 21)); }},
      {"add 2 bytes", With(FaultAction::AddBytes, [](Fault& f) { f.count = 2; }),
       [&](const std::vector<Burst>& b) {
         auto expected = clean;
         expected.push_back(0);
         expected.push_back(0);
         EXPECT_EQ(joined(b), expected);
       }},
      {"extra frame", With(FaultAction::ExtraFrame),
       [&](const std::vector<Burst>& b) {
         auto r = joined(b);
         ASSERT_EQ(r.size(), 39u);
         EXPECT_EQ(std::vector<uint8_t>(r.begin(), r.begin() + 26), clean);
         EXPECT_EQ(r[26], kFrameStart);
         EXPECT_EQ(r[37], FrameChecksum(r.data() + 26));
       }},
      {"gap of 60 ms before byte 13",
       With(FaultAction::Gap,
            [](Fault& f) {
              f.ms = 60;
              f.at_byte = 13;
            }),
       [&](const std::vector<Burst>& b) {
         ASSERT_EQ(b.size(), 2u);
         EXPECT_EQ(b[0].offset_us, start);
         EXPECT_EQ(b[0].bytes.size(), 13u);
         EXPECT_EQ(b[1].offset_us, start + WireOffsetUs(13, spacing) + 60000);
         EXPECT_EQ(joined(b), clean);
       }},
      {"noise before the answer",
       With(FaultAction::Noise,
            [](Fault& f) {
              f.count = 4;
              f.seed = 7;
            }),
       [&](const std::vector<Burst>& b) {
         auto r = joined(b);
         ASSERT_EQ(r.size(), 30u);
         EXPECT_EQ(std::vector<uint8_t>(r.begin() + 4, r.end()), clean);
       }},
      {"delay of 100 ms", With(FaultAction::Delay, [](Fault& f) { f.ms = 100; }),
       [&](const std::vector<Burst>& b) {
         ASSERT_EQ(b.size(), 1u);
         EXPECT_EQ(b[0].offset_us, start + 100000);
         EXPECT_EQ(b[0].bytes, clean);
       }},
      {"status byte 1", With(FaultAction::StatusByte, [](Fault& f) { f.value = 1; }),
       [&](const std::vector<Burst>& b) {
         auto r = joined(b);
         ASSERT_EQ(r.size(), 26u);
         EXPECT_EQ(r[10], 1);
         EXPECT_EQ(r[11], FrameChecksum(r.data()));
       }},
      {"wrong echo address", With(FaultAction::WrongEcho, [](Fault& f) { f.echo_address = 0x1002; }),
       [&](const std::vector<Burst>& b) {
         auto r = joined(b);
         ASSERT_EQ(r.size(), 26u);
         EXPECT_EQ(r[3] << 8 | r[4], 0x1002);
         EXPECT_EQ(r[11], FrameChecksum(r.data()));
         EXPECT_EQ(std::vector<uint8_t>(r.begin() + 13, r.end()), std::vector<uint8_t>(clean.begin() + 13, clean.end()));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VirtualClock clock;
    VirtualPack pack(clock);
    pack.faults().add(c.fault);
    const auto req = Request(0x1001, 1);
    c.check(pack.receive(req.data(), req.size(), 0, kBaud));
    // The other pages are not affected.
    EXPECT_EQ(Send(pack, Request(0x1001, 2), 1000000).size(), 26u);
  }
}

TEST(Faults, NoiseIsReproducible) {
  auto noisy = [] {
    VirtualClock clock;
    VirtualPack pack(clock);
    Fault f = Fault::Make(FaultMatch::StatusPoll(), FaultAction::Noise);
    f.count = 8;
    f.seed = 42;
    pack.faults().add(f);
    return Send(pack, StatusPoll());
  };
  const auto a = noisy(), b = noisy();
  ASSERT_EQ(a.size(), 104u);
  EXPECT_EQ(a, b);
  EXPECT_NE(a[0], 0x4A);
}

TEST(Faults, StatusBlockAndAcknowledgementCanBeSpoiled) {
  VirtualClock clock;
  VirtualPack pack(clock);
  pack.faults().add(Fault::Make(FaultMatch::StatusPoll(), FaultAction::BadChecksum));
  pack.faults().add(Fault::Make(FaultMatch::ShuEnable(), FaultAction::BadChecksum));
  const auto block = Send(pack, StatusPoll());
  ASSERT_EQ(block.size(), 96u);
  EXPECT_NE(block[95], StatusBlockSum(block.data()));
  const ShuEnableConfig shu = DefaultShuEnableConfig();
  const auto ack = Send(pack, shu.request, 200000);
  ASSERT_EQ(ack.size(), shu.acknowledge.size());
  EXPECT_NE(ack, shu.acknowledge);
}

TEST(Faults, TriggersCountTheMatchingRequests) {
  struct Case {
    const char* what;
    FaultTrigger trigger;
    std::string answered;  // one character per request: 'y' answered, '-' silent
  };
  const Case cases[] = {
      {"always", FaultTrigger::Always(), "-----"},         {"only the 2nd", FaultTrigger::Nth(2), "y-yyy"},
      {"from the 3rd on", FaultTrigger::From(3), "yy---"}, {"until the 3rd (answers from the 3rd on)", FaultTrigger::Until(3), "--yyy"},
      {"the first 2", FaultTrigger::First(2), "--yyy"},    {"the first 0", FaultTrigger::First(0), "yyyyy"},
  };
  for (const Case& c : cases) {
    VirtualClock clock;
    VirtualPack pack(clock);
    pack.faults().add(Fault::Make(FaultMatch::Register(0x1005), FaultAction::Silence, c.trigger));
    std::string got;
    for (int i = 0; i < 5; ++i) {
      // Requests to other registers in between do not count.
      Send(pack, Request(0x0005, 0), i * 1000000);
      got += Send(pack, Request(0x1005, 0), i * 1000000 + 500000).empty() ? '-' : 'y';
    }
    EXPECT_EQ(got, c.answered) << c.what;
  }
}

TEST(Faults, SilencedWriteChangesNothing) {
  VirtualClock clock;
  VirtualPack pack(clock);
  pack.faults().add(Fault::Make(FaultMatch::Register(0x4209), FaultAction::Silence, FaultTrigger::First(1)));
  EXPECT_TRUE(Write(pack, 0x4209, 0, {1}, 1).empty());
  EXPECT_FALSE(pack.shipping_mode());
  EXPECT_EQ(Write(pack, 0x4209, 0, {1}, 1, 1000000).size(), 13u);
  EXPECT_TRUE(pack.shipping_mode());
}

TEST(Faults, GlobalSilenceAndClearing) {
  VirtualClock clock;
  VirtualPack pack(clock);
  pack.set_silent(true);
  EXPECT_TRUE(Send(pack, StatusPoll()).empty());
  EXPECT_TRUE(Send(pack, Request(0x1001, 1), 100000).empty());
  pack.set_silent(false);
  const int id = pack.faults().add(Fault::Make(FaultMatch::Any(), FaultAction::Silence));
  EXPECT_TRUE(Send(pack, StatusPoll(), 200000).empty());
  EXPECT_TRUE(pack.faults().remove(id));
  EXPECT_FALSE(pack.faults().remove(id));
  EXPECT_EQ(Send(pack, StatusPoll(), 300000).size(), 96u);
  pack.faults().add(Fault::Make(FaultMatch::Any(), FaultAction::Silence));
  pack.faults().clear();
  EXPECT_EQ(Send(pack, StatusPoll(), 400000).size(), 96u);
}

TEST(FaultText, ParsesTheTextForm) {
  struct Case {
    const char* text;
    MatchKind kind;
    uint16_t address;
    int length;  // -1: any
    TriggerKind trigger;
    int n;
    FaultAction action;
    std::function<bool(const Fault&)> extra;
  };
  const Case cases[] = {
      {"0x1005:until=3:silence", MatchKind::Register, 0x1005, -1, TriggerKind::FirstK, 2, FaultAction::Silence, nullptr},
      {"status:bad-checksum", MatchKind::StatusPoll, 0, -1, TriggerKind::Always, 1, FaultAction::BadChecksum, [](const Fault& f) { return f.frame == 0; }},
      {"0x1001/2:nth=4:bad-checksum=2", MatchKind::Register, 0x1001, 2, TriggerKind::Nth, 4, FaultAction::BadChecksum, [](const Fault& f) { return f.frame == 1; }},
      {"any:first=2:drop=3", MatchKind::Any, 0, -1, TriggerKind::FirstK, 2, FaultAction::DropBytes, [](const Fault& f) { return f.count == 3; }},
      {"shu:from=2:add=1", MatchKind::ShuEnable, 0, -1, TriggerKind::FromNth, 2, FaultAction::AddBytes, [](const Fault& f) { return f.count == 1; }},
      {"4096:extra-frame", MatchKind::Register, 4096, -1, TriggerKind::Always, 1, FaultAction::ExtraFrame, nullptr},
      {"0x1001/1:gap=80,at=13", MatchKind::Register, 0x1001, 1, TriggerKind::Always, 1, FaultAction::Gap, [](const Fault& f) { return f.ms == 80 && f.at_byte == 13; }},
      {"status:noise=5,at=2,seed=9", MatchKind::StatusPoll, 0, -1, TriggerKind::Always, 1, FaultAction::Noise,
       [](const Fault& f) { return f.count == 5 && f.at_byte == 2 && f.seed == 9; }},
      {" 0x200B : delay=250 ", MatchKind::Register, 0x200B, -1, TriggerKind::Always, 1, FaultAction::Delay, [](const Fault& f) { return f.ms == 250; }},
      {"0x4209:status=0x11", MatchKind::Register, 0x4209, -1, TriggerKind::Always, 1, FaultAction::StatusByte, [](const Fault& f) { return f.value == 0x11; }},
      {"0x4006:echo=0x4007", MatchKind::Register, 0x4006, -1, TriggerKind::Always, 1, FaultAction::WrongEcho, [](const Fault& f) { return f.echo_address == 0x4007; }},
  };
  for (const Case& c : cases) {
    Fault f;
    bool silent = true;
    std::string error;
    ASSERT_TRUE(ParseFaultText(c.text, f, &silent, error)) << c.text << ": " << error;
    EXPECT_FALSE(silent) << c.text;
    EXPECT_EQ(f.match.kind, c.kind) << c.text;
    EXPECT_EQ(f.match.address, c.address) << c.text;
    EXPECT_EQ(f.match.length ? *f.match.length : -1, c.length) << c.text;
    EXPECT_EQ(f.trigger.kind, c.trigger) << c.text;
    if (c.trigger != TriggerKind::Always) {
      EXPECT_EQ(f.trigger.n, c.n) << c.text;
    }
    EXPECT_EQ(f.action, c.action) << c.text;
    if (c.extra) {
      EXPECT_TRUE(c.extra(f)) << c.text;
    }
  }
  Fault f;
  bool silent = false;
  std::string error;
  ASSERT_TRUE(ParseFaultText("silent", f, &silent, error));
  EXPECT_TRUE(silent);
}

TEST(FaultText, RejectsMalformedText) {
  const char* bad[] = {"",
                       "silence",
                       "0x1005",
                       "0x10050:silence",
                       "reg:silence",
                       "0x1001/x:silence",
                       "0x1001:sometimes:silence",
                       "0x1001:nth=:silence",
                       "0x1001:explode",
                       "0x1001:drop",
                       "0x1001:drop=x",
                       "0x1001:bad-checksum=3",
                       "0x1001:delay=5,at=2",
                       "0x1001:gap=5,at=",
                       "a:b:c:d"};
  for (const char* text : bad) {
    Fault f;
    bool silent = false;
    std::string error;
    EXPECT_FALSE(ParseFaultText(text, f, &silent, error)) << "'" << text << "'";
    EXPECT_FALSE(error.empty()) << "'" << text << "'";
  }
}

}  // namespace
}  // namespace bms::sim
