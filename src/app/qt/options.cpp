#include "app/qt/options.h"

#include <cstdlib>
#include <map>

namespace bms::qt {

const char* const kGuiUsage =
    "usage: bmsmon [--simulate] [--scenario FILE] [--edition PREFIX] [--data-dir DIR] [--help]\n"
    "  --simulate         offer the built-in virtual pack as a port (no hardware needed)\n"
    "  --scenario FILE    values of the virtual pack (implies --simulate)\n"
    "  --edition PREFIX   edition prefix, as if the program file name began with it\n"
    "                     (TQ58_LIT_, TQ58_ENG_, TQ58_EVT_, TQ58_CPL_, TQ58_FPL_, PQTQ58_...)\n"
    "  --data-dir DIR     folder for logs and reports (default: beside the program)\n"
    "  --help             this text\n";

const char* const kNoDisplayHint =
    "bmsmon: no display found. Run it on a desktop, or headless with QT_QPA_PLATFORM=offscreen "
    "(or xvfb-run -a bmsmon --simulate)\n";

bool ParseGuiOptions(const std::vector<std::string>& args, GuiOptions& out, std::string& error) {
  enum Arg { Simulate, Scenario, Edition, DataDir, Help, Screenshot, ScreenshotDelay, ScreenshotRun };
  static const std::map<std::string, std::pair<Arg, bool>> kOptions = {{"--simulate", {Simulate, false}},
                                                                       {"--scenario", {Scenario, true}},
                                                                       {"--edition", {Edition, true}},
                                                                       {"--data-dir", {DataDir, true}},
                                                                       {"--help", {Help, false}},
                                                                       {"-h", {Help, false}},
                                                                       {"--screenshot", {Screenshot, true}},
                                                                       {"--screenshot-delay", {ScreenshotDelay, true}},
                                                                       {"--screenshot-run", {ScreenshotRun, false}}};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-platform" || a == "--platform") {
      out.qt_platform = true;
      ++i;  // its value belongs to Qt as well
      continue;
    }
    auto it = kOptions.find(a);
    if (it == kOptions.end()) {
      if (a.rfind("--", 0) == 0) {
        error = "unknown option " + a;
        return false;
      }
      if (a.rfind('-', 0) == 0) continue;  // a Qt option such as -style
      error = "unexpected argument " + a;
      return false;
    }
    std::string value;
    if (it->second.second) {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        error = a + " needs a value";
        return false;
      }
      value = args[++i];
    }
    switch (it->second.first) {
      case Simulate:
        out.start.simulate = true;
        break;
      case Scenario:
        out.scenario = value;
        out.start.simulate = true;
        break;
      case Edition:
        out.start.edition = value;
        break;
      case DataDir:
        out.start.data_dir = value;
        break;
      case Help:
        out.help = true;
        break;
      case Screenshot:
        out.screenshot = value;
        break;
      case ScreenshotDelay: {
        char* end = nullptr;
        const long ms = std::strtol(value.c_str(), &end, 10);
        if (*end != '\0' || ms < 0 || ms > 600000) {
          error = "--screenshot-delay needs milliseconds";
          return false;
        }
        out.screenshot_delay_ms = static_cast<int>(ms);
        break;
      }
      case ScreenshotRun:
        out.screenshot_run = true;
        break;
    }
  }
  return true;
}

bool DisplayAvailable() {
  for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* v = std::getenv(var);
    if (v && *v) return true;
  }
  return false;
}

}  // namespace bms::qt
