#pragma once
// Start options of the GUI and the check for a display.
#include <string>
#include <vector>

#include "core/shell/app.h"

namespace bms::qt {

struct GuiOptions {
  bms::StartOptions start;
  std::string scenario;      // --scenario FILE: values of the virtual pack
  bool help = false;         // --help
  bool qt_platform = false;  // -platform / --platform given for Qt
  // Hidden (documentation and checks of the look): grab the windows to PNG
  // files after a delay, optionally with a run of the virtual pack.
  std::string screenshot;
  int screenshot_delay_ms = 1500;
  bool screenshot_run = false;
};

// Parses the arguments after the program name. Options Qt knows (one dash,
// such as -platform or -style) are left to Qt. False with `error` set on an
// unknown option or a missing value.
bool ParseGuiOptions(const std::vector<std::string>& args, GuiOptions& out, std::string& error);

extern const char* const kGuiUsage;

// True when a window system can be reached: DISPLAY, WAYLAND_DISPLAY or an
// explicit QT_QPA_PLATFORM.
bool DisplayAvailable();

extern const char* const kNoDisplayHint;

}  // namespace bms::qt
