#pragma once
// What every bmsmon-cli command shares: the exit statuses, the connection
// options, the session (clock, optional virtual pack, context with the port
// confirmed as the connection dialog's Yes does), Ctrl-C handling and the
// output helpers. Each command lives in its own cmd_*.cpp and registers its
// subcommand with a Register*Command function called from main.cpp.
#include <CLI/CLI.hpp>
#include <atomic>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "core/context.h"
#include "core/platform/clock.h"
#include "sim/virtual_pack.h"

namespace cli {

// The one exit-status table of the CLI (docs/cli.md).
enum ExitStatus : int {
  kExitOk = 0,       // success
  kExitVerdict = 1,  // a verdict of failure: a failed test run, a mismatch
  kExitUsage = 2,    // usage error
  kExitFailure = 3,  // failure of the link, the port or the command
  kExitOutput = 4,   // an output file was not written
  kExitRefused = 5,  // input refused, nothing sent
};

// The options every command that talks to a pack takes, defined once.
struct ConnectionOptions {
  std::string port;            // --port PATH
  bool simulate = false;       // --simulate
  std::string baud = "19200";  // --baud 9600|19200
  std::string edition;         // --edition PREFIX
  std::string data_dir;        // --data-dir DIR
  std::string scenario;        // --scenario FILE (virtual pack)
};

// Adds --port/--simulate (MakeSession requires exactly one), --baud, --edition,
// --data-dir and --scenario to sub. default_edition is the edition a
// command runs when --edition is not given (empty: from the file name).
void AddConnectionOptions(CLI::App* sub, ConnectionOptions& o, const std::string& default_edition = "");

// Everything one run of a command needs.
struct Session {
  bms::RealClock clock;
  std::unique_ptr<bms::sim::VirtualPack> pack;
  std::unique_ptr<bms::Context> ctx;
  ~Session();  // ends every worker before the pack and the clock go
};

// Builds the session: identity and edition, the windows and handlers
// (CreateApplication), the baud rate and port chosen and confirmed as the
// connection dialog's Yes does. False with *error (a usage error) when not
// exactly one of --port and --simulate was given or the scenario is bad.
bool MakeSession(const ConnectionOptions& o, Session& s, std::string& error);

// Set by SIGINT, SIGTERM and SIGHUP.
extern std::atomic<bool> g_interrupted;

// While alive, a Ctrl-C (SIGINT, SIGTERM, SIGHUP) ends the running
// operation at once: RunFlag is cleared, every wait of the clock returns,
// the port's pending read fails.
class InterruptWatcher {
 public:
  explicit InterruptWatcher(Session& s);
  ~InterruptWatcher();
  InterruptWatcher(const InterruptWatcher&) = delete;
  InterruptWatcher& operator=(const InterruptWatcher&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Writes one JSON document (or one object of a stream) on its own line.
void PrintJson(std::ostream& out, const nlohmann::json& j);

// Device or operator text made safe for a terminal line (control bytes as
// \xNN), and the same text as a JSON string value (invalid UTF-8 replaced).
std::string Term(const std::string& text);
nlohmann::json JsonText(const std::string& text);

// What main() hands to each Register*Command: argv[0] and the exit status
// the chosen command's callback sets.
struct CliEnv {
  std::string argv0;
  int exit_status = kExitOk;
};

}  // namespace cli
