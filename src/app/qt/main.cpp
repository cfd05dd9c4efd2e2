// bmsmon: the desktop front end of the BMS service tool.
#include <QDir>
#include <QFileInfo>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/qt/frontend.h"
#include "app/qt/main_window.h"
#include "app/qt/options.h"
#include "core/context.h"
#include "core/platform/clock.h"
#include "core/shell/app.h"
#include "sim/pack_hands.h"
#include "sim/port_factory.h"
#include "sim/scenario.h"
#include "sim/sim_port.h"
#include "sim/virtual_pack.h"

namespace {

// Saves every window as a PNG file: FILE for the main window as it is,
// FILE-<page>.png for the main window showing each of its tab pages, and
// FILE-<window>.png for the other windows. Used just before the end of a
// documentation run; it leaves the tabs as the view-model does not know them.
void SaveScreenshots(bms::qt::Frontend& fe, const QString& file) {
  const QFileInfo info(file);
  const QString stem = info.dir().filePath(info.completeBaseName());
  QWidget& main = fe.main_window();
  main.grab().save(file);
  if (auto* tabs = main.findChild<QTabWidget*>(QStringLiteral("PageControl2"))) {
    for (int i = 0; i < tabs->count(); ++i) {
      tabs->setTabVisible(i, true);
      tabs->setCurrentIndex(i);
      QCoreApplication::processEvents();
      main.grab().save(stem + QLatin1Char('-') + tabs->widget(i)->objectName() + QStringLiteral(".png"));
    }
  }
  for (QWidget* w : fe.windows()) {
    if (w == &main) continue;
    w->grab().save(stem + QLatin1Char('-') + w->objectName() + QStringLiteral(".png"));
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bms::qt::GuiOptions opts;
  std::string error;
  if (!bms::qt::ParseGuiOptions(args, opts, error)) {
    std::fprintf(stderr, "bmsmon: %s\n%s", error.c_str(), bms::qt::kGuiUsage);
    return 2;
  }
  if (opts.help) {
    std::fputs(bms::qt::kGuiUsage, stdout);
    return 0;
  }
  if (!opts.qt_platform && !bms::qt::DisplayAvailable()) {
    std::fputs(bms::qt::kNoDisplayHint, stderr);
    return 2;
  }
  bms::sim::Scenario scenario = bms::sim::DefaultScenario();
  if (!opts.scenario.empty() && !bms::sim::LoadScenario(opts.scenario, scenario, error)) {
    std::fprintf(stderr, "bmsmon: %s\n", error.c_str());
    return 2;
  }
  opts.start.argv0 = argv[0];

  bms::qt::GuiApplication app(argc, argv);
  bms::RealClock clock;
  std::unique_ptr<bms::sim::VirtualPack> pack;
  if (opts.start.simulate) pack = std::make_unique<bms::sim::VirtualPack>(clock, scenario);
  bms::Context ctx(clock, bms::sim::MakePortFactory(pack.get(), clock, nullptr));
  bms::InitAppIdentity(ctx, opts.start);

  int rc = 0;
  {
    bms::qt::Frontend fe(ctx);
    fe.attach();  // every change from here on reaches the windows
    // With the virtual pack, the bench hand acts behind the production
    // test's prompts (wakes the pack, switches the load).
    std::unique_ptr<bms::sim::PackHands> hands;
    if (pack) {
      hands = std::make_unique<bms::sim::PackHands>(*pack, ctx.Operator);
      ctx.Operator = hands.get();
    }
    bms::CreateApplication(ctx);
    bms::ShowMainWindow(ctx);

    if (!opts.screenshot.empty()) {
      if (opts.screenshot_run) {
        // Confirm the first port offered and press RUN, as an operator would.
        QTimer::singleShot(300, &app, [&ctx] {
          if (ctx.FormConfig.CobBoxInterfaceName.text().empty()) ctx.FormConfig.CobBoxInterfaceName.select(0);
          ctx.FormConfig.SpdBtnYES.click();
          ctx.FormMain.SpdBtnRUN.click();
        });
      }
      QTimer::singleShot(opts.screenshot_delay_ms, &app, [&fe, &opts] {
        SaveScreenshots(fe, QString::fromStdString(opts.screenshot));
        QCoreApplication::exit(0);
      });
    }

    rc = app.exec();
    bms::ExitApplication(ctx);  // stops the workers and closes port and log
    if (hands) ctx.Operator = nullptr;
    fe.detach();
  }
  return rc;
}
