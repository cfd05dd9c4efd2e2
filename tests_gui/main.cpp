// Test runner of the GUI tests: one QApplication for all of them, on the
// offscreen platform unless another one is asked for.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/qt/frontend.h"

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer: its own threads (the image thread
// pool) synchronise in ways the sanitizer cannot see. Races are reported for
// the instrumented code only: the tool, its view-models and this front end.
extern "C" const char* __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }
#endif

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  bms::qt::GuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
