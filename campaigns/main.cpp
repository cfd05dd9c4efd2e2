// bmscampaign: the real-port campaigns (unplug, quit, kill) against bmssim
// on pseudo-terminals. Prints each campaign's figures; the exit status is 0
// when every check held, 1 on a violation, 2 on a usage error.
#include <signal.h>
#include <stdlib.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <string>

#include "campaign.h"

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  campaign::Options o;
  o.bmssim = BMS_BMSSIM_PATH;
  o.cli = BMS_CLI_PATH;
  std::string which = "all";
  bool keep = false;
  CLI::App app{"bmscampaign: unplug, quit and kill campaigns of the real serial layer against bmssim"};
  app.add_option("CAMPAIGN", which, "unplug, quit, kill or all")->check(CLI::IsMember({"unplug", "quit", "kill", "all"}));
  app.add_option("--count", o.count, "rounds of each campaign (default 1000)")->check(CLI::Range(1L, 1000000L));
  app.add_option("--seed", o.seed, "seed of the random moments (default 1)");
  app.add_option("--bmssim", o.bmssim, "the bmssim executable")->check(CLI::ExistingFile);
  app.add_option("--cli", o.cli, "the bmsmon-cli executable")->check(CLI::ExistingFile);
  app.add_option("--work", o.work, "work folder (default: a new one under TMPDIR, removed unless a check failed)");
  app.add_flag("--keep", keep, "keep the work folder");
  app.add_flag("--verbose", o.verbose, "one line per round on stderr");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }
  namespace fs = std::filesystem;
  bool made = false;
  if (o.work.empty()) {
    const char* tmp = getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/bmscampaign.XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) {
      std::perror("bmscampaign: mkdtemp");
      return 1;
    }
    o.work = templ;
    made = true;
  } else {
    std::error_code ec;
    fs::create_directories(o.work, ec);
    o.work = fs::absolute(o.work).string();
  }
  std::printf("bmscampaign: %s, count %ld, seed %llu, work folder %s\n", which.c_str(), o.count, static_cast<unsigned long long>(o.seed), o.work.c_str());
  std::fflush(stdout);
  int rc = 0;
  for (const auto& [name, run] : {std::pair{"unplug", &campaign::RunUnplug}, std::pair{"quit", &campaign::RunQuit}, std::pair{"kill", &campaign::RunKill}}) {
    if (which != "all" && which != name) continue;
    const auto start = campaign::SteadyClock::now();
    const int r = run(o);
    std::printf("%s: %s in %.1f s\n", name, r == 0 ? "passed" : "FAILED", campaign::MsSince(start) / 1000);
    std::fflush(stdout);
    if (r != 0) rc = 1;
  }
  if (made && rc == 0 && !keep) {
    std::error_code ec;
    fs::remove_all(o.work, ec);
  } else {
    std::printf("bmscampaign: work folder kept: %s\n", o.work.c_str());
  }
  return rc;
}
