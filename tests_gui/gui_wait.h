#pragma once
// What the GUI tests share: waiting on the event loop and finding a widget
// by its control name.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace bms::qt::testing {

// Processes events until cond() holds or the deadline passes. A short timer
// keeps the loop waking up; there is no sleep and no busy spinning. The
// deadline only matters when the test fails: it is generous so that a loaded
// machine does not fail a test that would pass.
inline bool WaitUntil(const std::function<bool()>& cond, int timeout_ms = 10000) {
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer tick;
  tick.start(5);
  while (!cond()) {
    if (elapsed.elapsed() > timeout_ms) return cond();
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// The widget named `name` below root (its objectName is the control's name).
template <typename W>
W* Find(QWidget* root, const char* name) {
  W* w = root->findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(w, nullptr) << "no widget " << name;
  return w;
}

}  // namespace bms::qt::testing
