// The live plots in the whole front end, offscreen: a few minutes of polling
// the virtual pack in virtual time, then the series against what the
// display's widgets showed, the charts drawn from them, and the exports.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/qt/frontend.h"
#include "app/qt/main_window.h"
#include "app/qt/plot_panel.h"
#include "core/context.h"
#include "core/monitor/plot_series.h"
#include "core/platform/clock.h"
#include "core/shell/app.h"
#include "core/shell/connection_dialog.h"
#include "sim/port_factory.h"
#include "sim/scenario.h"
#include "sim/sim_port.h"
#include "sim/virtual_pack.h"

namespace {

using bms::PlotChannel;

class PlotGui : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    pack = std::make_unique<bms::sim::VirtualPack>(clock, bms::sim::DefaultScenario());
    ctx = std::make_unique<bms::Context>(clock, bms::sim::MakePortFactory(pack.get(), clock, nullptr), /*inline_workers=*/true);
    bms::StartOptions opts;
    opts.argv0 = dir.filePath("bmsmon").toStdString();
    opts.edition = "TQ58_LIT_";
    opts.data_dir = dir.path().toStdString();
    opts.simulate = true;
    bms::InitAppIdentity(*ctx, opts);
    fe = std::make_unique<bms::qt::Frontend>(*ctx);
    fe->attach();
    bms::CreateApplication(*ctx);
    ctx->FormConfig.CobBoxInterfaceName.set_text(bms::sim::kVirtualPortName);
    bms::SpdBtnYESClick(*ctx);
    main = &fe->main_window();
    panel = &fe->plot_panel();
  }
  void TearDown() override {
    ctx->Shutdown();
    fe->detach();
    fe.reset();
    ctx.reset();
  }
  void Drain() {
    fe->binder().drain();
    QCoreApplication::processEvents();
  }
  QLineEdit* Edit(const char* name) {
    auto* e = main->findChild<QLineEdit*>(QString::fromLatin1(name));
    EXPECT_NE(e, nullptr) << name;
    return e;
  }

  QTemporaryDir dir;
  bms::VirtualClock clock;
  std::unique_ptr<bms::sim::VirtualPack> pack;
  std::unique_ptr<bms::Context> ctx;
  std::unique_ptr<bms::qt::Frontend> fe;
  QWidget* main = nullptr;
  bms::qt::PlotPanel* panel = nullptr;
};

TEST_F(PlotGui, HiddenAtFirstAndShownWithOneClickOnPlots) {
  EXPECT_FALSE(panel->isVisible());
  auto* bar = main->findChild<QToolBar*>(QStringLiteral("ToolBarView"));
  ASSERT_NE(bar, nullptr);
  auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(panel->toggle_action()));
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->text(), "Plots");
  button->click();
  QCoreApplication::processEvents();
  EXPECT_TRUE(panel->isVisible());
  button->click();
  EXPECT_FALSE(panel->isVisible());
}

// The widgets of the display each channel is read from.
struct Shown {
  PlotChannel channel;
  const char* edit;
};
const Shown kShown[] = {
    {PlotChannel::PackVoltage, "EditPackVolt"},
    {PlotChannel::PackCurrent, "EditPackCurrent"},
    {bms::CellChannel(1), "EditVCell1"},
    {bms::CellChannel(3), "EditVCell3"},
    {bms::CellChannel(13), "EditVCell13"},
    {PlotChannel::T1, "EditT1"},
    {PlotChannel::T2, "EditT2"},
    {PlotChannel::T3, "EditT3"},
    {PlotChannel::Soc, "EditRSOC"},
};

std::string Text(int32_t v) { return v == bms::kPlotAbsent ? std::string() : std::to_string(v); }

// Consecutive repeats removed.
std::vector<std::string> Changes(const std::vector<std::string>& values) {
  std::vector<std::string> out;
  for (const std::string& v : values)
    if (out.empty() || out.back() != v) out.push_back(v);
  return out;
}

TEST_F(PlotGui, SeriesHoldWhatTheDisplayShowedOverMinutesOfPolling) {
  // Every widget text the display takes on, in order.
  std::map<const bms::Control*, std::pair<QLineEdit*, std::vector<std::string>>> shown;
  bms::TFormMain& m = ctx->FormMain;
  const std::map<std::string, const bms::Control*> controls = {{"EditPackVolt", &m.EditPackVolt},
                                                               {"EditPackCurrent", &m.EditPackCurrent},
                                                               {"EditVCell1", &m.EditVCell1},
                                                               {"EditVCell3", &m.EditVCell3},
                                                               {"EditVCell13", &m.EditVCell13},
                                                               {"EditT1", &m.EditT1},
                                                               {"EditT2", &m.EditT2},
                                                               {"EditT3", &m.EditT3},
                                                               {"EditRSOC", &m.EditRSOC}};
  for (const Shown& s : kShown) shown[controls.at(s.edit)] = {Edit(s.edit), {}};
  fe->binder().set_observer([&](const bms::UiEvent& ev) {
    auto it = shown.find(ev.control);
    if (it != shown.end() && ev.prop == bms::Prop::Text) it->second.second.push_back(it->second.first->text().toStdString());
  });

  // The pack's values move every 5 s for three minutes of virtual time.
  constexpr int64_t kRunMs = 180'000;
  for (int k = 1; k * 5000 < kRunMs; ++k)
    clock.at(k * 5000, [this, k] {
      pack->update([k](bms::sim::Scenario& s) {
        s.cells_mv[0] = static_cast<uint16_t>(3600 + 7 * k);
        s.cells_mv[2] = static_cast<uint16_t>(3900 - 5 * k);
        s.cells_mv[12] = static_cast<uint16_t>(3700 + (k % 3) * 40);
        s.pack_current_ma = (k % 2 ? 1 : -1) * 250 * k;
        s.t1 = static_cast<int8_t>(20 + k % 9);
        s.t2 = static_cast<int8_t>(-5 + k % 4);
        s.t3 = static_cast<int8_t>(k % 5 == 0 ? 0 : 30 + k % 7);
        s.rsoc = static_cast<uint8_t>(90 - k);
      });
    });
  clock.at(kRunMs, [this] { ctx->RunFlag = 0; });
  m.SpdBtnRUN.click();  // polls until the alarm above (inline worker)
  Drain();
  ASSERT_EQ(m.SpdBtnRUN.text(), "RUN");
  panel->take_samples();
  const bms::PlotSeries& series = panel->series();
  ASSERT_GT(series.raw_size(), 150u) << "a sample per completed cycle of about 1.1 s";
  EXPECT_LE(series.newest_ms(), kRunMs);

  for (const Shown& s : kShown) {
    SCOPED_TRACE(s.edit);
    std::vector<std::string> sampled;
    for (const bms::PlotSeries::Row& r : series.raw()) sampled.push_back(Text(r.at(s.channel)));
    std::vector<std::string> display = Changes(shown.at(controls.at(s.edit)).second);
    // The display starts from the idle texts of the RUN press.
    if (!display.empty() && display.size() == Changes(sampled).size() + 1 && (display.front() == "0" || display.front().empty())) display.erase(display.begin());
    EXPECT_EQ(Changes(sampled), display);
    EXPECT_GT(Changes(sampled).size(), 10u) << "the value moved while polling";
    // The last sample is what the widget shows now.
    EXPECT_EQ(sampled.back(), Edit(s.edit)->text().toStdString());
  }
  const bms::PlotSeries::Row& last = series.raw().back();
  EXPECT_EQ(Text(last.at(PlotChannel::CellHigh)), Edit("Edit_HVlot")->text().toStdString());
  EXPECT_EQ(Text(last.at(PlotChannel::CellLow)), Edit("Edit_LVolt")->text().toStdString());
  EXPECT_EQ(last.at(bms::CellChannel(14)), bms::kPlotAbsent) << "13 cells in series";

  // Drawn: every sample of the 5-minute window, then only the extremes of
  // the cells when asked for.
  panel->toggle_action()->trigger();
  QCoreApplication::processEvents();
  ASSERT_TRUE(panel->isVisible());
  panel->findChild<QComboBox*>(QStringLiteral("PlotWindow"))->setCurrentText(QStringLiteral("5 min"));
  EXPECT_TRUE(panel->following());
  EXPECT_EQ(panel->view_to_ms(), series.newest_ms());
  EXPECT_EQ(panel->view_from_ms(), series.newest_ms() - 300'000);
  const int samples = static_cast<int>(series.raw_size());
  EXPECT_EQ(panel->points_drawn(PlotChannel::PackVoltage), samples);
  EXPECT_EQ(panel->points_drawn(bms::CellChannel(13)), samples);
  EXPECT_EQ(panel->points_drawn(bms::CellChannel(14)), 0);
  EXPECT_EQ(panel->points_drawn(PlotChannel::CellHigh), 0);
  panel->findChild<QComboBox*>(QStringLiteral("PlotCellView"))->setCurrentText(QStringLiteral("Highest and lowest"));
  EXPECT_EQ(panel->points_drawn(bms::CellChannel(1)), 0);
  EXPECT_EQ(panel->points_drawn(PlotChannel::CellHigh), samples);
  EXPECT_EQ(panel->points_drawn(PlotChannel::CellLow), samples);

  // The exports: a PNG that opens as an image, a CSV of every sample shown.
  const QString png = dir.filePath("plots.png");
  QString why;
  ASSERT_TRUE(panel->export_png(png, &why)) << why.toStdString();
  QImage image;
  ASSERT_TRUE(image.load(png, "PNG"));
  EXPECT_GT(image.width(), 100);
  EXPECT_GT(image.height(), 100);
  const QString csv = dir.filePath("plots.csv");
  ASSERT_TRUE(panel->export_csv(csv, &why)) << why.toStdString();
  QFile f(csv);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QList<QByteArray> rows = f.readAll().split('\n');
  ASSERT_EQ(rows.size(), samples + 2) << "header, one row per sample, nothing after the last CR LF";
  const QList<QByteArray> fields = rows[samples].trimmed().split(',');
  ASSERT_EQ(fields.size(), 2 + bms::kPlotChannels);
  EXPECT_EQ(fields[2].toStdString(), Edit("EditPackVolt")->text().toStdString());
  EXPECT_EQ(fields[2 + 20].toStdString(), Edit("EditT3")->text().toStdString());
}

void RunCycles(bms::Context& ctx, int n) {
  int cycles = 0;
  ctx.MonitorCycleHook = [&](bool completed) {
    if (completed && ++cycles == n) ctx.RunFlag = 0;
  };
  ctx.FormMain.SpdBtnRUN.click();
  ctx.MonitorCycleHook = nullptr;
}

TEST_F(PlotGui, PauseFreezesTheViewZoomLeavesTheLiveViewLiveComesBack) {
  RunCycles(*ctx, 5);
  panel->take_samples();
  ASSERT_EQ(panel->series().raw_size(), 5u);
  panel->toggle_action()->trigger();
  QCoreApplication::processEvents();
  ASSERT_TRUE(panel->following());
  EXPECT_EQ(panel->view_to_ms(), panel->series().newest_ms());

  auto* pause = panel->findChild<QPushButton*>(QStringLiteral("PlotPause"));
  ASSERT_NE(pause, nullptr);
  pause->click();
  const int64_t frozen = panel->view_to_ms();
  RunCycles(*ctx, 3);
  panel->take_samples();
  panel->redraw();
  EXPECT_EQ(panel->series().raw_size(), 8u) << "sampling goes on while paused";
  EXPECT_EQ(panel->view_to_ms(), frozen);
  EXPECT_EQ(panel->points_drawn(PlotChannel::PackVoltage), 5);
  pause->click();
  EXPECT_EQ(panel->view_to_ms(), panel->series().newest_ms());
  EXPECT_EQ(panel->points_drawn(PlotChannel::PackVoltage), 8);

  auto* view = panel->findChild<QChartView*>(QStringLiteral("ChartPack"));
  ASSERT_NE(view, nullptr);
  const QPointF middle(view->width() / 2.0, view->height() / 2.0);
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent click(type, middle, view->mapToGlobal(middle), Qt::LeftButton, type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &click);
  }
  EXPECT_TRUE(panel->following()) << "a click without a drag moves nothing";
  QWheelEvent wheel(QPointF(view->width() / 2.0, view->height() / 2.0), view->mapToGlobal(QPointF(view->width() / 2.0, view->height() / 2.0)), QPoint(), QPoint(0, 120),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(view->viewport(), &wheel);
  EXPECT_FALSE(panel->following());
  const int64_t span = panel->view_to_ms() - panel->view_from_ms();
  EXPECT_LT(span, 15 * 60'000);
  // Every chart shows the same span.
  for (const char* name : {"ChartCells", "ChartTemperatures"}) {
    auto* other = panel->findChild<QChartView*>(QString::fromLatin1(name));
    ASSERT_NE(other, nullptr);
    auto* x = qobject_cast<QDateTimeAxis*>(other->chart()->axes(Qt::Horizontal).front());
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->max().toMSecsSinceEpoch() - x->min().toMSecsSinceEpoch(), span) << name;
  }
  panel->findChild<QPushButton*>(QStringLiteral("PlotLive"))->click();
  EXPECT_TRUE(panel->following());
  EXPECT_EQ(panel->view_to_ms() - panel->view_from_ms(), 15 * 60'000);
}

}  // namespace
