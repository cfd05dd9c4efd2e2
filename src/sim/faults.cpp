#include "sim/faults.h"

#include <algorithm>
#include <charconv>

namespace bms::sim {

bool FaultMatch::matches(const RequestInfo& r) const {
  switch (kind) {
    case MatchKind::Any:
      return true;
    case MatchKind::StatusPoll:
      return r.kind == RequestKind::StatusPoll;
    case MatchKind::ShuEnable:
      return r.kind == RequestKind::ShuEnable;
    case MatchKind::Register:
      if (r.kind != RequestKind::RegisterRead && r.kind != RequestKind::RegisterWrite && r.kind != RequestKind::Sleep) return false;
      if (r.address != address) return false;
      if (length && *length != r.length) return false;
      if (param && *param != r.param) return false;
      return true;
    case MatchKind::Modbus:
      return r.kind == RequestKind::Modbus;
    case MatchKind::ModbusStart:
      return r.kind == RequestKind::Modbus && r.address == address;
  }
  return false;
}

bool FaultTrigger::fires(int index) const {
  switch (kind) {
    case TriggerKind::Always:
      return true;
    case TriggerKind::Nth:
      return index == n;
    case TriggerKind::FromNth:
      return index >= n;
    case TriggerKind::FirstK:
      return index <= n;
  }
  return false;
}

int FaultSet::add(const Fault& f) {
  std::lock_guard<std::mutex> lock(mu_);
  const int id = next_id_++;
  rules_.push_back(Rule{id, f, 0});
  return id;
}

bool FaultSet::remove(int id) {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = std::find_if(rules_.begin(), rules_.end(), [id](const Rule& r) { return r.id == id; });
  if (it == rules_.end()) return false;
  rules_.erase(it);
  return true;
}

void FaultSet::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  rules_.clear();
}

std::vector<Fault> FaultSet::rules() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<Fault> out;
  for (const Rule& r : rules_) out.push_back(r.fault);
  return out;
}

void FaultSet::set_silent(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  silent_ = on;
}

bool FaultSet::silent() const {
  std::lock_guard<std::mutex> lock(mu_);
  return silent_;
}

std::vector<Fault> FaultSet::evaluate(const RequestInfo& r) {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<Fault> out;
  for (Rule& rule : rules_) {
    if (!rule.fault.match.matches(r)) continue;
    ++rule.seen;
    if (!rule.fault.trigger.fires(rule.seen)) continue;
    Fault f = rule.fault;
    // Each firing of a noise rule gets bytes of its own, still reproducible.
    f.seed = rule.fault.seed + static_cast<uint32_t>(rule.seen - 1) * 0x9E3779B9u;
    out.push_back(f);
  }
  return out;
}

// ---- text form ----

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ParseNumber(std::string_view s, uint64_t max, uint64_t* out) {
  s = Trim(s);
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  if (s.empty()) return false;
  uint64_t v = 0;
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (ec != std::errc() || p != s.data() + s.size() || v > max) return false;
  *out = v;
  return true;
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t p = s.find(sep, start);
    parts.push_back(Trim(s.substr(start, p == std::string_view::npos ? std::string_view::npos : p - start)));
    if (p == std::string_view::npos) break;
    start = p + 1;
  }
  return parts;
}

bool ParseTarget(std::string_view t, FaultMatch& m, std::string& error) {
  if (t == "any") {
    m = FaultMatch::Any();
    return true;
  }
  if (t == "status") {
    m = FaultMatch::StatusPoll();
    return true;
  }
  if (t == "shu") {
    m = FaultMatch::ShuEnable();
    return true;
  }
  if (t == "modbus") {
    m = FaultMatch::Modbus();
    return true;
  }
  if (t.substr(0, 7) == "modbus/") {
    uint64_t start = 0;
    if (!ParseNumber(t.substr(7), 0xFFFF, &start)) {
      error = "bad start register in '" + std::string(t) + "'";
      return false;
    }
    m = FaultMatch::ModbusAt(static_cast<uint16_t>(start));
    return true;
  }
  const size_t slash = t.find('/');
  uint64_t address = 0, page = 0;
  if (!ParseNumber(t.substr(0, slash), 0xFFFF, &address)) {
    error = "unknown target '" + std::string(t) + "' (any, status, shu, ADDR, ADDR/PAGE, modbus or modbus/START)";
    return false;
  }
  m = FaultMatch::Register(static_cast<uint16_t>(address));
  if (slash != std::string_view::npos) {
    if (!ParseNumber(t.substr(slash + 1), 0xFFFF, &page)) {
      error = "bad page in '" + std::string(t) + "'";
      return false;
    }
    m.length = static_cast<uint16_t>(page);
  }
  return true;
}

bool ParseTrigger(std::string_view t, FaultTrigger& tr, std::string& error) {
  if (t == "always") {
    tr = FaultTrigger::Always();
    return true;
  }
  const size_t eq = t.find('=');
  const std::string_view name = t.substr(0, eq);
  uint64_t n = 0;
  if (eq == std::string_view::npos || !ParseNumber(t.substr(eq + 1), 1000000, &n)) {
    error = "bad trigger '" + std::string(t) + "' (always, nth=N, from=N, until=N, first=K)";
    return false;
  }
  const int v = static_cast<int>(n);
  if (name == "nth") {
    tr = FaultTrigger::Nth(v);
  } else if (name == "from") {
    tr = FaultTrigger::From(v);
  } else if (name == "until") {
    tr = FaultTrigger::Until(v);
  } else if (name == "first") {
    tr = FaultTrigger::First(v);
  } else {
    error = "unknown trigger '" + std::string(name) + "'";
    return false;
  }
  return true;
}

bool ParseAction(std::string_view text, Fault& f, std::string& error) {
  const auto parts = Split(text, ',');
  const std::string_view head = parts[0];
  const size_t eq = head.find('=');
  const std::string_view name = head.substr(0, eq);
  const std::string_view arg = eq == std::string_view::npos ? std::string_view{} : head.substr(eq + 1);
  const bool has_arg = eq != std::string_view::npos;
  uint64_t v = 0;
  auto need = [&](uint64_t max) {
    if (!has_arg || !ParseNumber(arg, max, &v)) {
      error = "action '" + std::string(name) + "' needs a number (at most " + std::to_string(max) + ")";
      return false;
    }
    return true;
  };
  if (name == "silence") {
    f.action = FaultAction::Silence;
  } else if (name == "bad-checksum") {
    f.action = FaultAction::BadChecksum;
    f.frame = 0;
    if (has_arg) {
      if (!ParseNumber(arg, 2, &v) || v == 0) {
        error = "bad-checksum takes frame 1 or 2";
        return false;
      }
      f.frame = static_cast<int>(v) - 1;
    }
  } else if (name == "drop") {
    if (!need(1000)) return false;
    f.action = FaultAction::DropBytes;
    f.count = static_cast<int>(v);
  } else if (name == "add") {
    if (!need(1000)) return false;
    f.action = FaultAction::AddBytes;
    f.count = static_cast<int>(v);
  } else if (name == "extra-frame") {
    f.action = FaultAction::ExtraFrame;
  } else if (name == "gap") {
    if (!need(600000)) return false;
    f.action = FaultAction::Gap;
    f.ms = static_cast<int64_t>(v);
  } else if (name == "noise") {
    if (!need(1000)) return false;
    f.action = FaultAction::Noise;
    f.count = static_cast<int>(v);
  } else if (name == "delay") {
    if (!need(600000)) return false;
    f.action = FaultAction::Delay;
    f.ms = static_cast<int64_t>(v);
  } else if (name == "status") {
    if (!need(0xFF)) return false;
    f.action = FaultAction::StatusByte;
    f.value = static_cast<uint8_t>(v);
  } else if (name == "echo") {
    if (!need(0xFFFF)) return false;
    f.action = FaultAction::WrongEcho;
    f.echo_address = static_cast<uint16_t>(v);
  } else if (name == "slave") {
    if (!need(0xFF)) return false;
    f.action = FaultAction::WrongSlave;
    f.value = static_cast<uint8_t>(v);
  } else if (name == "flip") {
    if (!need(100000)) return false;
    f.action = FaultAction::BitFlip;  // bit 0 of byte N
    f.at_byte = static_cast<size_t>(v);
    f.value = 0;
  } else if (name == "duplicate") {
    f.action = FaultAction::Duplicate;
  } else {
    error = "unknown action '" + std::string(name) + "'";
    return false;
  }
  for (size_t i = 1; i < parts.size(); ++i) {
    const size_t e = parts[i].find('=');
    const std::string_view key = parts[i].substr(0, e);
    uint64_t n = 0;
    if (e == std::string_view::npos || !ParseNumber(parts[i].substr(e + 1), 0xFFFFFFFFu, &n)) {
      error = "bad option '" + std::string(parts[i]) + "'";
      return false;
    }
    if (key == "at" && (f.action == FaultAction::Gap || f.action == FaultAction::Noise)) {
      f.at_byte = static_cast<size_t>(n);
    } else if (key == "seed" && f.action == FaultAction::Noise) {
      f.seed = static_cast<uint32_t>(n);
    } else {
      error = "option '" + std::string(key) + "' does not apply to '" + std::string(name) + "'";
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseFaultText(std::string_view text, Fault& out, bool* global_silence, std::string& error) {
  text = Trim(text);
  if (global_silence) *global_silence = false;
  if (text == "silent") {
    if (!global_silence) {
      error = "'silent' is not allowed here";
      return false;
    }
    *global_silence = true;
    return true;
  }
  const auto parts = Split(text, ':');
  if (parts.size() < 2 || parts.size() > 3) {
    error = "fault '" + std::string(text) + "': expected TARGET[:TRIGGER]:ACTION or 'silent'";
    return false;
  }
  Fault f;
  std::string why;
  if (!ParseTarget(parts[0], f.match, why) || (parts.size() == 3 && !ParseTrigger(parts[1], f.trigger, why)) || !ParseAction(parts.back(), f, why)) {
    error = "fault '" + std::string(text) + "': " + why;
    return false;
  }
  out = f;
  return true;
}

}  // namespace bms::sim
