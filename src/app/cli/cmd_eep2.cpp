#include "app/cli/cmd_eep2.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/link/link_port.h"
#include "core/link/modbus.h"
#include "core/parameters/eep2.h"
#include "core/platform/files.h"

namespace {

using bms::Eep2Block;
using bms::Eep2Outcome;
using bms::Eep2Result;

struct Eep2Options {
  cli::ConnectionOptions conn;
  std::string block;  // c or d
  std::string out;    // read: --out FILE
  std::string from;   // write: --from FILE
  bool json = false;
};

Eep2Block BlockOf(const std::string& b) { return b == "d" || b == "D" ? Eep2Block::D : Eep2Block::C; }
const char* BlockName(Eep2Block b) { return b == Eep2Block::C ? "C" : "D"; }

int StatusOf(const Eep2Result& r) {
  switch (r.outcome) {
    case Eep2Outcome::Done:
      return cli::kExitOk;
    case Eep2Outcome::Refused:
    case Eep2Outcome::RefusedQuietly:
      return cli::kExitRefused;
    default:
      return cli::kExitFailure;
  }
}

nlohmann::json FieldsJson(bms::Context& ctx, Eep2Block b) {
  nlohmann::json fields = nlohmann::json::array();
  const auto& table = bms::Eep2Fields(b);
  const auto& edits = bms::Eep2Edits(ctx, b);
  for (size_t i = 0; i < table.size(); ++i)
    fields.push_back({{"name", table[i].edit}, {"register", table[i].reg}, {"caption", table[i].caption}, {"unit", table[i].unit}, {"text", cli::JsonText(edits[i]->text())}});
  return fields;
}

void PrintFields(bms::Context& ctx, Eep2Block b) {
  const auto& table = bms::Eep2Fields(b);
  const auto& edits = bms::Eep2Edits(ctx, b);
  for (size_t i = 0; i < table.size(); ++i) std::cout << table[i].edit << ": \"" << cli::Term(edits[i]->text()) << "\"\n";
}

// The outcome as the one JSON object or as a message on standard error.
int Finish(const Eep2Options& o, const char* action, Eep2Block b, int status, const std::string& error, bms::Context* ctx, const std::string& extra_key = "",
           const nlohmann::json& extra = nullptr) {
  if (o.json) {
    nlohmann::json j{{"command", std::string("eep2 ") + action}, {"block", BlockName(b)}, {"exit_status", status}, {"ok", status == cli::kExitOk}};
    if (!error.empty()) j["error"] = cli::JsonText(error);
    if (ctx && status == cli::kExitOk) j["fields"] = FieldsJson(*ctx, b);
    if (!extra_key.empty()) j[extra_key] = extra;
    cli::PrintJson(std::cout, j);
  } else if (!error.empty()) {
    std::cerr << "bmsmon-cli: " << cli::Term(error) << "\n";
  }
  return status;
}

int Eep2Read(const Eep2Options& o) {
  const Eep2Block b = BlockOf(o.block);
  cli::Session s;
  std::string error;
  if (!cli::MakeSession(o.conn, s, error)) return Finish(o, "read", b, cli::kExitUsage, error, nullptr);
  bms::Context& ctx = *s.ctx;
  Eep2Result r;
  {
    cli::InterruptWatcher watcher(s);
    r = bms::RunEep2Read(ctx, b);
  }
  if (!r.ok()) return Finish(o, "read", b, StatusOf(r), r.message, nullptr);
  if (!o.json) PrintFields(ctx, b);
  if (!o.out.empty()) {
    std::string why;
    const bool saved = b == Eep2Block::C ? bms::SaveBlockCFile(ctx, o.out, &why) : bms::WriteFileAtomic(o.out, bms::SocTableText(ctx), &why);
    if (!saved) return Finish(o, "read", b, cli::kExitOutput, why.empty() ? o.out + " was not written" : why, nullptr);
    if (!o.json) std::cerr << "bmsmon-cli: saved " << cli::Term(o.out) << "\n";
  }
  return Finish(o, "read", b, cli::kExitOk, "", &ctx, o.out.empty() ? "" : "out", o.out);
}

int Eep2Write(const Eep2Options& o) {
  const Eep2Block b = BlockOf(o.block);
  // The file is checked before anything goes on the line.
  std::string content, why;
  if (!bms::ReadInputFile(o.from, &content, &why)) return Finish(o, "write", b, cli::kExitRefused, "the file was refused: " + why + "; nothing was sent", nullptr);
  cli::Session s;
  std::string error;
  if (!cli::MakeSession(o.conn, s, error)) return Finish(o, "write", b, cli::kExitUsage, error, nullptr);
  bms::Context& ctx = *s.ctx;
  cli::InterruptWatcher watcher(s);
  if (b == Eep2Block::C) {
    bms::LoadBlockCFile(ctx, o.from);
  } else {
    if (bms::ReadSocTableFile(ctx, o.from, &why) < 0) return Finish(o, "write", b, cli::kExitRefused, why + " Nothing was sent.", nullptr);
    // The cell edits of Block D come from the pack, the SOC table from the file.
    const Eep2Result first = bms::RunEep2Read(ctx, b);
    if (!first.ok()) return Finish(o, "write", b, StatusOf(first), first.message, nullptr);
    if (!bms::ApplySocTableFile(ctx, o.from, &why)) return Finish(o, "write", b, cli::kExitRefused, why, nullptr);
  }
  std::vector<std::string> written;
  for (bms::Control* e : bms::Eep2Edits(ctx, b)) written.push_back(e->text());
  const Eep2Result w = bms::RunEep2Write(ctx, b);
  if (!w.ok()) return Finish(o, "write", b, StatusOf(w), w.message, nullptr);
  // Read back and compare field by field.
  const Eep2Result back = bms::RunEep2Read(ctx, b);
  if (!back.ok()) return Finish(o, "write", b, cli::kExitFailure, "written, but the read-back failed: " + back.message, nullptr);
  nlohmann::json differ = nlohmann::json::array();
  std::string first_difference;
  const auto& edits = bms::Eep2Edits(ctx, b);
  for (size_t i = 0; i < edits.size(); ++i) {
    if (edits[i]->text() == written[i]) continue;
    differ.push_back({{"name", edits[i]->name()}, {"written", cli::JsonText(written[i])}, {"read", cli::JsonText(edits[i]->text())}});
    if (first_difference.empty()) first_difference = edits[i]->name() + " written \"" + written[i] + "\", read back \"" + edits[i]->text() + "\"";
  }
  if (!differ.empty())
    return Finish(o, "write", b, cli::kExitVerdict, "the read-back differs in " + std::to_string(differ.size()) + " field(s), first " + first_difference, nullptr, "differences",
                  differ);
  if (!o.json) {
    PrintFields(ctx, b);
    std::cerr << "bmsmon-cli: Block " << BlockName(b) << " written and verified\n";
  }
  return Finish(o, "write", b, cli::kExitOk, "", &ctx);
}

// ---- modbus read ----

struct ModbusOptions {
  cli::ConnectionOptions conn;
  long start = 0;
  long count = 0;
  long slave = bms::ModbusSlaveAddress;
  bool json = false;
};

std::string Hex4(long v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04lX", v & 0xFFFF);
  return buf;
}

int ModbusRead(const ModbusOptions& o) {
  auto fail = [&](int status, const std::string& error) {
    if (o.json)
      cli::PrintJson(std::cout, {{"command", "modbus read"}, {"exit_status", status}, {"ok", false}, {"error", cli::JsonText(error)}});
    else
      std::cerr << "bmsmon-cli: " << cli::Term(error) << "\n";
    return status;
  };
  if (o.start + o.count > 0x10000) return fail(cli::kExitUsage, "START + COUNT goes past register 0xFFFF");
  cli::Session s;
  std::string error;
  if (!cli::MakeSession(o.conn, s, error)) return fail(cli::kExitUsage, error);
  bms::Context& ctx = *s.ctx;
  bool ok = false;
  {
    cli::InterruptWatcher watcher(s);
    if (!bms::OpenLinkPort(ctx)) return fail(cli::kExitFailure, "the serial port could not be opened: " + ctx.LinkError.get());
    bms::ClearModbusReadTables(ctx);
    ok = bms::ModbusReadRegisters(ctx, static_cast<uint16_t>(o.start), static_cast<uint16_t>(o.count), static_cast<uint8_t>(o.slave));
    bms::CloseLinkPort(ctx);
  }
  if (!ok)
    return fail(cli::kExitFailure, "no valid reply from slave " + std::to_string(o.slave) +
                                       " (no answer, a bad CRC, an exception reply such as an address outside the blocks, or another slave's reply)");
  const auto words = ctx.ModbusReadWords.get();
  if (o.json) {
    nlohmann::json regs = nlohmann::json::array();
    for (long k = 0; k < o.count; ++k) regs.push_back({{"register", o.start + k}, {"value", words[static_cast<size_t>(k)]}});
    cli::PrintJson(std::cout, {{"command", "modbus read"}, {"exit_status", 0}, {"ok", true}, {"slave", o.slave}, {"start", o.start}, {"count", o.count}, {"registers", regs}});
  } else {
    for (long k = 0; k < o.count; ++k) std::cout << "0x" << Hex4(o.start + k) << ": " << words[static_cast<size_t>(k)] << " (0x" << Hex4(words[static_cast<size_t>(k)]) << ")\n";
  }
  return cli::kExitOk;
}

}  // namespace

void RegisterEep2Command(CLI::App& app, cli::CliEnv& env) {
  auto* eep2 = app.add_subcommand("eep2", "read or write a parameter block of the EEP2 window (Block C or D) over Modbus");
  eep2->require_subcommand(1);

  auto r = std::make_shared<Eep2Options>();
  auto* read = eep2->add_subcommand("read", "read the block and print every field; --out saves BLOCK_C.ini (C) or the SOC table file (D)");
  read->add_option("BLOCK", r->block, "c or d")->required()->check(CLI::IsMember({"c", "d", "C", "D"}));
  cli::AddConnectionOptions(read, r->conn);
  read->add_option("--out", r->out, "save Block C as an INI file (section Block_C), Block D's SOC table as a text file")->type_name("FILE");
  read->add_flag("--json", r->json, "print one JSON object");
  read->callback([r, &env] { env.exit_status = Eep2Read(*r); });

  auto w = std::make_shared<Eep2Options>();
  auto* write = eep2->add_subcommand("write", "load the file as the window does, check every field, write the block and read it back");
  write->add_option("BLOCK", w->block, "c or d")->required()->check(CLI::IsMember({"c", "d", "C", "D"}));
  write->add_option("--from", w->from, "Block C: an INI file like BLOCK_C.ini; Block D: a SOC table text file (101 values, 100 % first)")->required()->type_name("FILE");
  cli::AddConnectionOptions(write, w->conn);
  write->add_flag("--json", w->json, "print one JSON object");
  write->callback([w, &env] { env.exit_status = Eep2Write(*w); });
}

void RegisterModbusCommand(CLI::App& app, cli::CliEnv& env) {
  auto* modbus = app.add_subcommand("modbus", "plain Modbus RTU transactions for diagnosis");
  modbus->require_subcommand(1);
  auto o = std::make_shared<ModbusOptions>();
  auto* read = modbus->add_subcommand("read", "read COUNT holding registers from START (function 0x03), one per line");
  read->add_option("START", o->start, "first register, decimal or 0x hex")->required()->check(CLI::Range(0L, 65535L));
  read->add_option("COUNT", o->count, "number of registers, 1-125")->required()->check(CLI::Range(1L, 125L));
  cli::AddConnectionOptions(read, o->conn);
  read->add_option("--slave", o->slave, "slave address, 1-247 (default 96 = 0x60)")->check(CLI::Range(1L, 247L))->type_name("N");
  read->add_flag("--json", o->json, "print one JSON object");
  read->callback([o, &env] { env.exit_status = ModbusRead(*o); });
}
