// bmssoak: the seeded fault soak of the polling loop and its data log in
// virtual time. Prints the figures of each seed; exits 1 when any seed met a
// violation (the seed and the virtual time of the first one are printed so
// the run can be replayed), 2 on a usage error.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <vector>

#include "sim/soak.h"

int main(int argc, char** argv) {
  CLI::App app{"Seeded fault soak of the polling loop and the data log against the virtual pack, in virtual time"};
  std::vector<uint32_t> seeds;
  double hours = 24;
  double rate = 0.05;
  std::string folder;
  bool progress = false;
  app.add_option("--seed", seeds, "Seed of the fault mix; repeat it for several seeds")->required();
  app.add_option("--hours", hours, "Virtual hours per seed")->check(CLI::Range(0.01, 10000.0))->capture_default_str();
  app.add_option("--rate", rate, "Chance that a fault is armed after a recovered cycle")->check(CLI::Range(0.0, 1.0))->capture_default_str();
  app.add_option("--folder", folder, "Folder for the data logs (kept); default a temporary folder, removed afterwards");
  app.add_flag("--progress", progress, "A line per virtual hour on stderr");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  int status = 0;
  for (uint32_t seed : seeds) {
    bms::sim::SoakOptions o;
    o.seed = seed;
    o.hours = hours;
    o.rate = rate;
    o.folder = folder;
    o.progress = progress;
    const bms::sim::SoakReport r = bms::sim::RunSoak(o);
    std::fputs(r.text().c_str(), stdout);
    std::fflush(stdout);
    if (!r.ok()) status = 1;
  }
  return status;
}
