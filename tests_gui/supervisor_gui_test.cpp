// The port supervisor in the Qt front end, offscreen: the live values grey
// while the adapter is gone, Resume offered when it is back, one click resumes.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGraphicsColorizeEffect>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "app/qt/frontend.h"
#include "app/qt/main_window.h"
#include "core/context.h"
#include "core/link/port_supervisor.h"
#include "core/platform/clock.h"
#include "core/shell/app.h"
#include "sim/port_factory.h"
#include "sim/scenario.h"
#include "sim/sim_port.h"
#include "sim/virtual_pack.h"
#include "gui_wait.h"

namespace {

using bms::qt::testing::Find;
using bms::qt::testing::WaitUntil;

// Greyed: some widget between w and the window draws it through a grey effect.
bool Greyed(QWidget* w) {
  for (; w != nullptr; w = w->parentWidget())
    if (qobject_cast<QGraphicsColorizeEffect*>(w->graphicsEffect())) return true;
  return false;
}

// The adapter is there or not; every plug-in is a new node.
class SwitchLocator final : public bms::PortLocator {
 public:
  SwitchLocator(std::atomic<bool>& present, std::atomic<int>& generation) : present_(present), generation_(generation) {}
  bms::PortSighting look(const std::string& name) override {
    bms::PortSighting s;
    s.path = name;
    s.present = present_.load();
    s.node = std::to_string(generation_.load());
    return s;
  }
  bms::PortSighting find(const bms::PortSighting& was, const std::string& name) override {
    bms::PortSighting s = look(name);
    return s.present && s.node != was.node ? s : bms::PortSighting{};
  }

 private:
  std::atomic<bool>& present_;
  std::atomic<int>& generation_;
};

TEST(SupervisorGui, LiveValuesGreyWhileTheAdapterIsGoneAndOneClickResumes) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  bms::RealClock clock;
  bms::sim::VirtualPack pack(clock, bms::sim::DefaultScenario());
  bms::Context ctx(clock, bms::sim::MakePortFactory(&pack, clock, nullptr));
  bms::StartOptions opts;
  opts.argv0 = dir.filePath("bmsmon").toStdString();
  opts.edition = "TQ58_LIT_";
  opts.data_dir = dir.path().toStdString();
  opts.simulate = true;
  bms::InitAppIdentity(ctx, opts);
  auto fe = std::make_unique<bms::qt::Frontend>(ctx);
  fe->attach();
  std::atomic<bool> present{true};
  std::atomic<int> generation{1};
  fe->supervisor().set_locator(std::make_unique<SwitchLocator>(present, generation));
  fe->supervisor().set_watch_interval_ms(20);
  bms::CreateApplication(ctx);
  bms::ShowMainWindow(ctx);
  QWidget* main = &fe->main_window();
  QWidget* config = fe->window_of(ctx.FormConfig);

  auto* port = Find<QComboBox>(config, "CobBoxInterfaceName");
  ASSERT_TRUE(WaitUntil([&] { return port->findText(bms::sim::kVirtualPortName) >= 0; }));
  QMetaObject::invokeMethod(port, "activated", Q_ARG(int, port->findText(bms::sim::kVirtualPortName)));
  auto* details = Find<QLabel>(config, "LabelPortDetails");
  EXPECT_TRUE(WaitUntil([&] { return details->text() == "VirtualPack: the built-in virtual pack"; })) << details->text().toStdString();
  auto* yes = Find<QPushButton>(config, "SpdBtnYES");
  ASSERT_TRUE(WaitUntil([&] { return yes->isEnabled(); }));
  yes->click();
  auto* run = Find<QPushButton>(main, "SpdBtnRUN");
  ASSERT_TRUE(WaitUntil([&] { return run->isEnabled(); }));
  auto* volt = Find<QLineEdit>(main, "EditPackVolt");
  auto* cell1 = Find<QLineEdit>(main, "EditVCell1");
  auto* stale = Find<QLabel>(main, "LabelLinkStale");
  auto* resume = Find<QPushButton>(main, "BitBtnLinkResume");
  EXPECT_TRUE(stale->isHidden());
  EXPECT_TRUE(resume->isHidden());

  run->click();
  const QString want = QString::number(pack.scenario().voltage_mv());
  ASSERT_TRUE(WaitUntil([&] { return volt->text() == want; })) << volt->text().toStdString();
  EXPECT_FALSE(Greyed(volt));

  present = false;
  pack.unplug_at(clock.now_ms());
  ASSERT_TRUE(WaitUntil([&] { return !stale->isHidden(); }));
  EXPECT_TRUE(stale->text().startsWith("  Values stale: port gone at ")) << stale->text().toStdString();
  EXPECT_TRUE(stale->text().endsWith("; waiting for the adapter ")) << stale->text().toStdString();
  EXPECT_TRUE(Greyed(volt));
  EXPECT_TRUE(Greyed(cell1));
  EXPECT_EQ(volt->text(), want) << "the last values stay on screen, greyed";
  EXPECT_TRUE(resume->isHidden());
  EXPECT_EQ(run->text(), "STOP");

  const int polls_gone = pack.status_polls();
  ++generation;
  present = true;
  pack.replug();
  ASSERT_TRUE(WaitUntil([&] { return !resume->isHidden() && resume->isEnabled(); }));
  EXPECT_TRUE(stale->text().endsWith("; the adapter is back on VirtualPack: press Resume ")) << stale->text().toStdString();
  EXPECT_EQ(pack.status_polls(), polls_gone) << "nothing is sent before the click";
  resume->click();
  ASSERT_TRUE(WaitUntil([&] { return stale->isHidden() && pack.status_polls() > polls_gone; }));
  EXPECT_FALSE(Greyed(volt));
  EXPECT_TRUE(resume->isHidden());
  EXPECT_EQ(fe->supervisor().resumes(), 1u);

  run->click();  // STOP
  ASSERT_TRUE(WaitUntil([&] { return run->text() == "RUN"; }));
  bms::ExitApplication(ctx);
  fe->detach();
  fe.reset();
}

}  // namespace
