// The Qt front end in process, on the offscreen platform: the binder on its
// own, and the whole tool started as bmsmon --simulate starts it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/qt/binder.h"
#include "app/qt/frontend.h"
#include "app/qt/history_window.h"
#include "app/qt/main_window.h"
#include "app/qt/operator_qt.h"
#include "app/qt/options.h"
#include "app/qt/widgets.h"
#include "app/qt/windows.h"
#include "core/context.h"
#include "core/link/link_port.h"
#include "core/platform/clock.h"
#include "core/production_test/production_test.h"
#include "core/shell/app.h"
#include "core/shell/password_dialog.h"
#include "core/ui/forms.h"
#include "sim/pack_hands.h"
#include "sim/port_factory.h"
#include "sim/scenario.h"
#include "sim/sim_port.h"
#include "sim/virtual_pack.h"
#include "sim/wire_log.h"
#include "gui_wait.h"

namespace {

using bms::qt::testing::Find;
using bms::qt::testing::WaitUntil;

using bms::qt::BarGauge;
using bms::qt::Binder;
using bms::qt::Lamp;
using bms::qt::PanelStatusBar;
using bms::qt::RadioGroupBox;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A main-window view-model and its window, without the rest of the tool.
class BinderTest : public ::testing::Test {
 protected:
  void SetUp() override { window = std::make_unique<bms::qt::MainWindow>(); }
  void TearDown() override {
    {
      std::lock_guard<std::mutex> lock(mu);
      sink = nullptr;
    }
    binder.clear();
  }
  void Attach() {
    {
      std::lock_guard<std::mutex> lock(mu);
      sink = &binder;
    }
    binder.bind(form, window.get());
  }

  std::mutex mu;
  bms::UiEventSink* sink = nullptr;
  bms::TFormMain form{mu, sink};
  Binder binder;
  std::unique_ptr<bms::qt::MainWindow> window;
};

TEST_F(BinderTest, ChangesFromAWorkerThreadArriveInTheOrderTheyWereMade) {
  Attach();
  auto* volt = Find<QLineEdit>(window.get(), "EditPackVolt");
  auto* gauge = Find<BarGauge>(window.get(), "CGaugeVCell1");
  struct Seen {
    const bms::Control* control;
    int value;
    bool widget_showed_it;
  };
  std::vector<Seen> seen;
  binder.set_observer([&](const bms::UiEvent& ev) {
    if (ev.control == &form.EditPackVolt) {
      const int v = std::stoi(std::get<std::string>(ev.value));
      seen.push_back({ev.control, v, volt->text() == QString::number(v)});
    } else if (ev.control == &form.CGaugeVCell1 && ev.prop == bms::Prop::Progress) {
      const int v = std::get<int>(ev.value);
      seen.push_back({ev.control, v, gauge->value() == v});
    }
  });
  constexpr int kChanges = 2000;
  std::thread worker([&] {
    for (int i = 1; i <= kChanges; ++i) {
      form.EditPackVolt.set_text(std::to_string(i));
      form.CGaugeVCell1.set_progress(i % 5000);
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return seen.size() == 2u * kChanges; }));
  worker.join();
  for (int i = 0; i < kChanges; ++i) {
    ASSERT_EQ(seen[2 * i].control, &form.EditPackVolt) << i;
    EXPECT_EQ(seen[2 * i].value, i + 1);
    EXPECT_TRUE(seen[2 * i].widget_showed_it) << i;
    ASSERT_EQ(seen[2 * i + 1].control, &form.CGaugeVCell1) << i;
    EXPECT_EQ(seen[2 * i + 1].value, (i + 1) % 5000);
    EXPECT_TRUE(seen[2 * i + 1].widget_showed_it) << i;
  }
  EXPECT_EQ(volt->text(), QString::number(kChanges));
}

TEST_F(BinderTest, BindingShowsTheStateTheModelAlreadyHas) {
  // Changes made while no sink listens: only the bind-time state shows them.
  form.EditPackVolt.set_text("52000");
  form.EditOVF.set_color(bms::kRed);
  form.EditOVF.set_font_color(bms::kWhite);
  form.SpdBtnRUN.set_enabled(false);
  form.SpdBtnRUN.set_text("STOP");
  form.CheckBox_SHU_EN.set_checked(true);
  form.GroupBoxVCell14.set_visible(false);
  form.CGaugeVCell3.set_progress(6000);  // clamped by the model to 5000
  form.StatusBarView.set_item(0, "  SYS : < LINK >");
  form.TabSheetENG.set_visible(false);
  form.TabSheetXPL.set_text("CPL");
  form.RadioGroupBarcodeSelect.select(2);
  form.Shape_TX.set_color(bms::kRed);
  form.CSpinEditRecordDelay.set_text("10");
  Attach();

  EXPECT_EQ(Find<QLineEdit>(window.get(), "EditPackVolt")->text(), "52000");
  auto* ovf = Find<QLineEdit>(window.get(), "EditOVF");
  EXPECT_EQ(ovf->palette().color(QPalette::Base), QColor(0xff, 0, 0));
  EXPECT_EQ(ovf->palette().color(QPalette::Text), QColor(0xff, 0xff, 0xff));
  auto* run = Find<QPushButton>(window.get(), "SpdBtnRUN");
  EXPECT_FALSE(run->isEnabled());
  EXPECT_EQ(run->text(), "STOP");
  EXPECT_TRUE(Find<QCheckBox>(window.get(), "CheckBox_SHU_EN")->isChecked());
  EXPECT_TRUE(Find<QWidget>(window.get(), "GroupBoxVCell14")->isHidden());
  auto* g3 = Find<BarGauge>(window.get(), "CGaugeVCell3");
  EXPECT_EQ(g3->maximum(), 5000);
  EXPECT_EQ(g3->value(), 5000);
  EXPECT_EQ(Find<PanelStatusBar>(window.get(), "StatusBarView")->panelText(0), "  SYS : < LINK >");
  auto* tabs = Find<QTabWidget>(window.get(), "PageControl2");
  const int eng = tabs->indexOf(Find<QWidget>(window.get(), "TabSheetENG"));
  const int xpl = tabs->indexOf(Find<QWidget>(window.get(), "TabSheetXPL"));
  EXPECT_FALSE(tabs->isTabVisible(eng));
  EXPECT_EQ(tabs->tabText(xpl), "CPL");
  auto* radio = Find<RadioGroupBox>(window.get(), "RadioGroupBarcodeSelect");
  EXPECT_EQ(radio->items(), QStringList({"Auto ", "ExtBarcode32", "IntBarcode32", "IntBarcode16"}));
  EXPECT_EQ(radio->checkedIndex(), 2);
  EXPECT_EQ(Find<Lamp>(window.get(), "Shape_TX")->color(), QColor(0xff, 0, 0));
  EXPECT_EQ(Find<QSpinBox>(window.get(), "CSpinEditRecordDelay")->value(), 10);
}

TEST_F(BinderTest, ChangesComingFromTheModelDoNotEchoBackIntoIt) {
  Attach();
  int box_clicks = 0;
  form.CheckBox_GatewayMode.on_click = [&] { ++box_clicks; };
  int page_changes = 0;
  form.PageControl2.on_click = [&] { ++page_changes; };
  int delay_changes = 0;
  form.CSpinEditRecordDelay.on_change = [&] { ++delay_changes; };
  // Several changes in one batch: applying the first must not write the
  // widget's value back and undo the later ones.
  form.CheckBox_GatewayMode.set_checked(true);
  form.CheckBox_GatewayMode.set_checked(false);
  form.CheckBox_GatewayMode.set_checked(true);
  form.PageControl2.select(5);
  form.PageControl2.select(0);
  form.CSpinEditRecordDelay.set_text("7");
  form.CSpinEditRecordDelay.set_text("12");
  binder.drain();
  EXPECT_TRUE(form.CheckBox_GatewayMode.checked());
  EXPECT_EQ(box_clicks, 3);
  EXPECT_EQ(form.PageControl2.item_index(), 0);
  EXPECT_EQ(page_changes, 2);
  EXPECT_EQ(form.CSpinEditRecordDelay.text(), "12");
  EXPECT_EQ(delay_changes, 2);
  EXPECT_TRUE(Find<QCheckBox>(window.get(), "CheckBox_GatewayMode")->isChecked());
  EXPECT_EQ(Find<QTabWidget>(window.get(), "PageControl2")->currentIndex(), 0);
  EXPECT_EQ(Find<QSpinBox>(window.get(), "CSpinEditRecordDelay")->value(), 12);
}

TEST_F(BinderTest, OperatorActionsReachTheModel) {
  Attach();
  window->show();
  int run_clicks = 0;
  form.SpdBtnRUN.on_click = [&] { ++run_clicks; };
  std::vector<bool> hovers;
  form.SpdBtnConfigure.on_hover = [&](bool inside) { hovers.push_back(inside); };

  Find<QPushButton>(window.get(), "SpdBtnRUN")->click();
  EXPECT_EQ(run_clicks, 1);
  form.SpdBtnRUN.set_enabled(false);  // a disabled control ignores clicks
  form.SpdBtnRUN.click();
  EXPECT_EQ(run_clicks, 1);

  Find<QCheckBox>(window.get(), "CheckBoxVCellNoAdjust")->click();
  EXPECT_TRUE(form.CheckBoxVCellNoAdjust.checked());

  auto* barcode = Find<QLineEdit>(window.get(), "EditBarCode32");
  barcode->setFocus();
  for (char ch : std::string("AB7")) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(ch)));
    QCoreApplication::sendEvent(barcode, &press);
  }
  EXPECT_EQ(form.EditBarCode32.text(), "AB7");
  binder.drain();  // the echo of the typing leaves the edit as typed
  EXPECT_EQ(barcode->text(), "AB7");

  Find<QRadioButton>(window.get(), "RadioGroupBarcodeSelect_3")->click();
  EXPECT_EQ(form.RadioGroupBarcodeSelect.item_index(), 3);

  auto* tabs = Find<QTabWidget>(window.get(), "PageControl2");
  tabs->setCurrentIndex(5);
  EXPECT_EQ(form.PageControl2.item_index(), 5);

  Find<QSpinBox>(window.get(), "CSpinEditRecordDelay")->setValue(9);
  EXPECT_EQ(form.CSpinEditRecordDelay.text(), "9");

  QEvent enter(QEvent::Enter), leave(QEvent::Leave);
  QCoreApplication::sendEvent(Find<QPushButton>(window.get(), "SpdBtnConfigure"), &enter);
  QCoreApplication::sendEvent(Find<QPushButton>(window.get(), "SpdBtnConfigure"), &leave);
  EXPECT_EQ(hovers, (std::vector<bool>{true, false}));

  // The close box asks the model, which hides the window and runs FormClose.
  int closes = 0;
  form.on_close = [&] { ++closes; };
  window->close();
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(form.self.visible());
  binder.drain();
  EXPECT_FALSE(window->isVisible());
}

TEST_F(BinderTest, ComboBoxFollowsItemsTextAndIndex) {
  std::mutex m;
  bms::UiEventSink* s = &binder;
  bms::TFormConfig config{m, s};
  bms::qt::ConfigDialog dialog;
  binder.bind(config, &dialog);
  auto* combo = Find<QComboBox>(&dialog, "CobBoxInterfaceName");
  auto* baud = Find<QComboBox>(&dialog, "ComboBoxBaudRate");
  EXPECT_EQ(baud->count(), 2);
  EXPECT_EQ(baud->currentIndex(), -1);  // nothing selected until the model says so
  config.ComboBoxBaudRate.select(1);
  config.CobBoxInterfaceName.set_items({});
  config.CobBoxInterfaceName.add_item("/dev/ttyUSB0");
  config.CobBoxInterfaceName.set_text("/dev/ttyUSB0");
  config.CobBoxInterfaceName.add_item("/dev/ttyUSB1");
  config.CobBoxInterfaceName.set_text("/dev/ttyUSB1");
  binder.drain();
  EXPECT_EQ(baud->currentText(), "19200");
  EXPECT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->currentText(), "/dev/ttyUSB1");
  // The operator picks the first port.
  QMetaObject::invokeMethod(combo, "activated", Q_ARG(int, 0));
  EXPECT_EQ(config.CobBoxInterfaceName.text(), "/dev/ttyUSB0");
  config.CobBoxInterfaceName.set_items({});
  binder.drain();
  EXPECT_EQ(combo->count(), 0);
  {
    std::lock_guard<std::mutex> lock(m);
    s = nullptr;
  }
}

TEST_F(BinderTest, MemoShowsItsLinesAndAppendsNewOnes) {
  std::mutex m;
  bms::UiEventSink* s = &binder;
  bms::TFormEEPROM eeprom{m, s};
  bms::qt::HistoryWindow w;
  binder.bind(eeprom, &w);
  auto* memo = Find<QPlainTextEdit>(&w, "MemoEEPHeader");
  EXPECT_EQ(memo->toPlainText(), "EEPROM Header Block");  // no lines yet: its text
  for (int i = 0; i < 300; ++i) eeprom.MemoEEPHeader.add_item("line " + std::to_string(i));
  binder.drain();
  const QStringList lines = memo->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 300);
  EXPECT_EQ(lines.front(), "line 0");
  EXPECT_EQ(lines.back(), "line 299");
  eeprom.MemoEEPHeader.set_items({"fresh"});
  binder.drain();
  EXPECT_EQ(memo->toPlainText(), "fresh");
  {
    std::lock_guard<std::mutex> lock(m);
    s = nullptr;
  }
}

TEST(GuiApplication, AnErrorEscapingAnEventHandlerIsShownAndTheApplicationCarriesOn) {
  auto* app = qobject_cast<bms::qt::GuiApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  std::vector<QString> shown;
  app->set_error_reporter([&](const QString& m) { shown.push_back(m); });
  std::mutex m;
  bms::UiEventSink* s = nullptr;
  bms::TFormMain form{m, s};
  bms::qt::MainWindow window;
  Binder binder;
  binder.bind(form, &window);
  window.show();
  int calls = 0;
  form.SpdBtnExit.on_click = [&] {
    if (++calls == 1) throw std::runtime_error("the port vanished");
    throw 42;  // not an exception object: shown with an empty message
  };
  auto* exit = Find<QPushButton>(&window, "SpdBtnExit");
  auto press = [&] {
    const QPointF at(exit->rect().center());
    QMouseEvent down(QEvent::MouseButtonPress, at, exit->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent up(QEvent::MouseButtonRelease, at, exit->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(exit, &down);
    QCoreApplication::sendEvent(exit, &up);
  };
  press();
  press();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(shown, (std::vector<QString>{"the port vanished", QString()}));
  app->set_error_reporter(nullptr);
}

TEST(GuiOptions, ParsesTheStartOptions) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    std::string error;
    bool simulate;
    std::string edition, data_dir, scenario;
    bool help;
  };
  const Case cases[] = {
      {{}, true, "", false, "", "", "", false},
      {{"--simulate"}, true, "", true, "", "", "", false},
      {{"--edition", "TQ58_ENG_", "--data-dir", "/tmp/logs"}, true, "", false, "TQ58_ENG_", "/tmp/logs", "", false},
      {{"--scenario", "pack.txt"}, true, "", true, "", "", "pack.txt", false},  // a scenario implies the virtual pack
      {{"--help"}, true, "", false, "", "", "", true},
      {{"-platform", "offscreen", "-style", "--simulate"}, true, "", true, "", "", "", false},  // Qt's own options pass
      {{"--edition"}, false, "--edition needs a value", false, "", "", "", false},
      {{"--simulte"}, false, "unknown option --simulte", false, "", "", "", false},
      {{"COM3"}, false, "unexpected argument COM3", false, "", "", "", false},
  };
  for (const Case& c : cases) {
    bms::qt::GuiOptions o;
    std::string error;
    EXPECT_EQ(bms::qt::ParseGuiOptions(c.args, o, error), c.ok) << (c.args.empty() ? "" : c.args[0]);
    EXPECT_EQ(error, c.error);
    if (!c.ok) continue;
    EXPECT_EQ(o.start.simulate, c.simulate);
    EXPECT_EQ(o.start.edition, c.edition);
    EXPECT_EQ(o.start.data_dir, c.data_dir);
    EXPECT_EQ(o.scenario, c.scenario);
    EXPECT_EQ(o.help, c.help);
  }
}

// The whole tool as bmsmon --simulate starts it: real clock, the virtual
// pack in process, real workers.
class GuiSession : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  // Starts the tool as bmsmon --simulate [--edition PREFIX] does.
  void Start(const std::string& edition = "") {
    pack = std::make_unique<bms::sim::VirtualPack>(clock, bms::sim::DefaultScenario());
    ctx = std::make_unique<bms::Context>(clock, bms::sim::MakePortFactory(pack.get(), clock, &wire));
    bms::StartOptions opts;
    opts.argv0 = dir.filePath("bmsmon").toStdString();
    opts.edition = edition.empty() ? "TQ58_LIT_" : edition;
    opts.data_dir = dir.path().toStdString();
    opts.simulate = true;
    bms::InitAppIdentity(*ctx, opts);
    fe = std::make_unique<bms::qt::Frontend>(*ctx);
    fe->attach();
    bms::CreateApplication(*ctx);
    bms::ShowMainWindow(*ctx);
    main = &fe->main_window();
    config = fe->window_of(ctx->FormConfig);
  }
  void TearDown() override {
    if (!ctx) return;
    bms::ExitApplication(*ctx);
    fe->detach();
    fe.reset();
    ctx.reset();
  }

  QTemporaryDir dir;
  bms::RealClock clock;
  bms::sim::WireLog wire;
  std::unique_ptr<bms::sim::VirtualPack> pack;
  std::unique_ptr<bms::Context> ctx;
  std::unique_ptr<bms::qt::Frontend> fe;
  QWidget* main = nullptr;
  QWidget* config = nullptr;
};

TEST_F(GuiSession, RunShowsTheLivePackAndStopEndsThePolling) {
  Start();
  const bms::sim::Scenario s = pack->scenario();
  ASSERT_TRUE(WaitUntil([&] { return config->isVisible(); })) << "the connection dialog opens with the virtual pack";
  auto* run = Find<QPushButton>(main, "SpdBtnRUN");
  EXPECT_FALSE(run->isEnabled()) << "RUN waits for a confirmed port";

  auto* port = Find<QComboBox>(config, "CobBoxInterfaceName");
  ASSERT_TRUE(WaitUntil([&] { return port->findText(bms::sim::kVirtualPortName) >= 0; }));
  QMetaObject::invokeMethod(port, "activated", Q_ARG(int, port->findText(bms::sim::kVirtualPortName)));
  auto* yes = Find<QPushButton>(config, "SpdBtnYES");
  ASSERT_TRUE(WaitUntil([&] { return yes->isEnabled(); }));
  yes->click();
  ASSERT_TRUE(WaitUntil([&] { return !config->isVisible() && run->isEnabled(); }));

  run->click();
  ASSERT_TRUE(WaitUntil([&] { return run->text() == "STOP"; }));
  auto* volt = Find<QLineEdit>(main, "EditPackVolt");
  auto* cell1 = Find<QLineEdit>(main, "EditVCell1");
  auto* cell13 = Find<QLineEdit>(main, "EditVCell13");
  const QString want_volt = QString::number(s.voltage_mv());
  ASSERT_TRUE(WaitUntil([&] { return volt->text() == want_volt && cell1->text() == QString::number(s.cells_mv[0]); }))
      << "pack voltage " << volt->text().toStdString() << ", cell 1 " << cell1->text().toStdString();
  ASSERT_TRUE(WaitUntil([&] { return cell13->text() == QString::number(s.cells_mv[12]); }));
  EXPECT_EQ(Find<BarGauge>(main, "CGaugeVCell1")->value(), s.cells_mv[0]);
  EXPECT_EQ(Find<QLineEdit>(main, "EditRSOC")->text(), QString::number(s.rsoc));
  EXPECT_EQ(Find<BarGauge>(main, "CGaugeRSOC")->value(), s.rsoc);
  EXPECT_EQ(Find<QLineEdit>(main, "EditFWID")->text().trimmed(), Q(s.model_name));
  // 13 cells in series: the group of cell 14 is hidden, cell 13 shown.
  EXPECT_TRUE(Find<QWidget>(main, "GroupBoxVCell14")->isHidden());
  EXPECT_FALSE(Find<QWidget>(main, "GroupBoxVCell13")->isHidden());
  EXPECT_FALSE(Find<QPushButton>(main, "SpdBtnExit")->isEnabled()) << "commands are locked while polling";

  run->click();  // STOP
  // The caption and its colour are two changes of the model: the GUI shows
  // them one after the other, so wait for both.
  ASSERT_TRUE(WaitUntil([&] { return run->text() == "RUN" && run->palette().color(QPalette::ButtonText) == QColor(0, 0, 0xff); }))
      << run->text().toStdString() << " in " << run->palette().color(QPalette::ButtonText).name().toStdString();
  auto* status = Find<PanelStatusBar>(main, "StatusBarView");
  ASSERT_TRUE(WaitUntil([&] { return status->panelText(0) == "  SYS : < STOP > "; })) << status->panelText(0).toStdString();
  EXPECT_TRUE(run->isEnabled());
  EXPECT_TRUE(Find<QPushButton>(main, "SpdBtnExit")->isEnabled());
  EXPECT_EQ(status->panelText(3), "   TQ58_LIT_bmsmon");
  EXPECT_GT(pack->status_polls(), 0);
}

TEST_F(GuiSession, TheEngineeringEditionOpensWithThePassword) {
  Start("TQ58_ENG_");
  QWidget* password = fe->window_of(ctx->Form_ENG_Password);
  ASSERT_TRUE(WaitUntil([&] { return password->isVisible(); }));
  EXPECT_FALSE(main->isEnabled()) << "the main window waits for the password dialog";
  EXPECT_EQ(Find<QLabel>(password, "Label_Password")->text(), " Entry Password (. .. ...)");
  auto* edit = Find<QLineEdit>(password, "Edit_ENG_Password");
  EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
  for (char ch : bms::ExpectedPassword(clock.local_now(), false)) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_0 + (ch - '0'), Qt::NoModifier, QString(QChar(ch)));
    QCoreApplication::sendEvent(edit, &press);
  }
  Find<QPushButton>(password, "BitBtn_Yes")->click();
  ASSERT_TRUE(WaitUntil([&] { return main->isEnabled() && !password->isVisible(); }));
  auto* tabs = Find<QTabWidget>(main, "PageControl2");
  QWidget* eng = Find<QWidget>(main, "TabSheetENG");
  EXPECT_TRUE(tabs->isTabVisible(tabs->indexOf(eng)));
  EXPECT_EQ(tabs->currentWidget(), eng) << "the engineering page comes to the front";
  EXPECT_EQ(tabs->tabText(tabs->indexOf(Find<QWidget>(main, "TabSheetXPL"))), "CPL");
  EXPECT_FALSE(tabs->isTabVisible(tabs->indexOf(Find<QWidget>(main, "TabSheetEVT"))));
  EXPECT_TRUE(main->windowTitle().startsWith("TQ58_ENG_")) << main->windowTitle().toStdString();
  // What the operator sees, in the window as it stands.
  EXPECT_TRUE(Find<QWidget>(main, "GroupBoxTDC")->isVisible()) << "on the engineering page in front";
  auto* rtc_edit = Find<QWidget>(main, "EditRTCENG");
  auto* rtc_label = Find<QWidget>(main, "LabelRTCENG");
  tabs->setCurrentWidget(Find<QWidget>(main, "TabSheetTQ58"));
  EXPECT_FALSE(rtc_edit->isVisible()) << "its group shows only once the pack reports history";
  if (!config->isVisible()) Find<QPushButton>(main, "SpdBtnConfigure")->click();
  ASSERT_TRUE(WaitUntil([&] { return config->isVisible(); }));
  EXPECT_TRUE(Find<QWidget>(config, "CheckBoxLogFileSave")->isVisible());
  auto* port = Find<QComboBox>(config, "CobBoxInterfaceName");
  ASSERT_TRUE(WaitUntil([&] { return port->findText(bms::sim::kVirtualPortName) >= 0; }));
  QMetaObject::invokeMethod(port, "activated", Q_ARG(int, port->findText(bms::sim::kVirtualPortName)));
  auto* yes = Find<QPushButton>(config, "SpdBtnYES");
  ASSERT_TRUE(WaitUntil([&] { return yes->isEnabled(); }));
  yes->click();
  auto* run = Find<QPushButton>(main, "SpdBtnRUN");
  ASSERT_TRUE(WaitUntil([&] { return !config->isVisible() && run->isEnabled(); }));
  run->click();
  EXPECT_TRUE(WaitUntil([&] { return rtc_edit->isVisible() && rtc_label->isVisible(); })) << "shown in its group once the pack reports history";
  // The T2 gauge follows EditT2.
  auto* t2 = Find<QLineEdit>(main, "EditT2");
  ASSERT_TRUE(WaitUntil([&] { return !t2->text().isEmpty(); }));
  EXPECT_TRUE(WaitUntil([&] { return Find<BarGauge>(main, "CGaugeT2")->value() == t2->text().toInt(); })) << t2->text().toStdString();
  ASSERT_TRUE(WaitUntil([&] { return ctx->CycleDone.load() != 0; })) << "STOP counts only after a complete cycle here";
  run->click();
  ASSERT_TRUE(WaitUntil([&] { return run->text() == "RUN" && !ctx->MonitorActive.load(); }));
}

// The six flag edits show their parent's colour, also when the parent's
// colour changes after they were bound (FormCreate colours the window late).
TEST_F(GuiSession, FlagEditsShowTheirParentsColour) {
  Start();
  for (const char* name : {"EditOVF", "EditUVF", "EditOCF", "EditSCF", "EditOTF", "EditUTF"}) {
    auto* edit = Find<QLineEdit>(main, name);
    QWidget* parent = edit->parentWidget();
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(edit->palette().color(QPalette::Base), parent->palette().color(QPalette::Window)) << name;
  }
  // A later change of the parent's colour is followed too.
  QWidget* parent = Find<QLineEdit>(main, "EditOVF")->parentWidget();
  QPalette pal = parent->palette();
  pal.setColor(QPalette::Window, QColor(0x12, 0x34, 0x56));
  parent->setPalette(pal);
  EXPECT_EQ(Find<QLineEdit>(main, "EditOVF")->palette().color(QPalette::Base), QColor(0x12, 0x34, 0x56));
}

TEST_F(GuiSession, ExitAndTheCloseBoxEndTheEventLoop) {
  Start();
  auto* exit = Find<QPushButton>(main, "SpdBtnExit");
  ASSERT_TRUE(exit->isEnabled());
  for (bool close_box : {false, true}) {
    // The application's own event loop, as main() runs it.
    QTimer::singleShot(0, [&] {
      if (close_box)
        main->close();
      else
        exit->click();
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });  // the loop did not end
    guard.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0) << (close_box ? "close box" : "EXIT");
    EXPECT_FALSE(ctx->FormMain.self.visible());
    ctx->FormMain.self.set_visible(true);
  }
}

TEST_F(GuiSession, EveryControlOfEveryWindowHasItsWidget) {
  Start();
  for (bms::Form* form : ctx->forms()) {
    std::vector<std::string> missing = fe->binder().unbound_controls(*form);
    // Edit1 and Edit2 are design-time edits outside the visible area of the
    // window; only their change handlers matter.
    std::erase_if(missing, [](const std::string& n) { return n == "Edit1" || n == "Edit2"; });
    EXPECT_TRUE(missing.empty()) << form->name() << " lacks widgets for " << ::testing::PrintToString(missing);
    ASSERT_NE(fe->window_of(*form), nullptr);
    EXPECT_EQ(fe->window_of(*form)->objectName(), Q(form->name()));
  }
}

TEST_F(GuiSession, TheMainWindowFitsA1366By768Screen) {
  Start();
  const QSize min = main->minimumSizeHint();
  EXPECT_LE(min.width(), 1366);
  EXPECT_LE(min.height(), 700) << "room for the title bar and a desktop panel";
  EXPECT_LE(main->width(), 1366);
  EXPECT_LE(main->height(), 700);
}

TEST_F(GuiSession, AfterDetachWorkersNoLongerReachTheWidgets) {
  Start();
  auto* volt = Find<QLineEdit>(main, "EditPackVolt");
  fe->detach();
  std::thread worker([&] { ctx->FormMain.EditPackVolt.set_text("12345"); });
  worker.join();
  QCoreApplication::processEvents();
  EXPECT_NE(volt->text(), "12345");
  EXPECT_EQ(ctx->FormMain.EditPackVolt.text(), "12345");
}

}  // namespace

namespace {

// The production test in the window: plan chosen, prompts answered by a
// script, a whole run, the verdict and the counters in the widgets.
TEST_F(GuiSession, AProductionTestRunShowsItsVerdictAndCounters) {
  Start("TQ58_EVT_");
  QWidget* password = fe->window_of(ctx->Form_ENG_Password);
  ASSERT_TRUE(WaitUntil([&] { return password->isVisible(); }));
  auto* edit = Find<QLineEdit>(password, "Edit_ENG_Password");
  edit->setText(Q(bms::ExpectedPassword(clock.local_now(), true)));
  Find<QPushButton>(password, "BitBtn_Yes")->click();
  ASSERT_TRUE(WaitUntil([&] { return main->isEnabled() && !password->isVisible(); }));
  auto* port = Find<QComboBox>(config, "CobBoxInterfaceName");
  if (config->isVisible()) {
    ASSERT_TRUE(WaitUntil([&] { return port->findText(bms::sim::kVirtualPortName) >= 0; }));
    QMetaObject::invokeMethod(port, "activated", Q_ARG(int, port->findText(bms::sim::kVirtualPortName)));
    auto* yes = Find<QPushButton>(config, "SpdBtnYES");
    ASSERT_TRUE(WaitUntil([&] { return yes->isEnabled(); }));
    yes->click();
  }
  auto* test = Find<QPushButton>(main, "SpdBtnEVTTest");
  ASSERT_TRUE(WaitUntil([&] { return test->isEnabled(); }));

  // The plan, chosen through the file dialog of PCM (scripted here).
  const QString plan = dir.filePath("plan.ini");
  {
    QFile f(plan);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Set]\nSleepModeWrite=1\n[Check]\nLogRecordCnt=2\n");
  }
  bms::ScriptedOperator files({}, {plan.toStdString()});
  bms::OperatorInteraction* shown = ctx->Operator;
  ctx->Operator = &files;
  Find<QPushButton>(main, "BitBtn_PCM")->click();
  ctx->Operator = shown;
  ASSERT_TRUE(WaitUntil([&] { return Find<QLineEdit>(main, "Edit_PCM_INI")->text() == plan; }));

  // The two prompts of the sleep test, answered Yes on the GUI thread.
  auto* op = dynamic_cast<bms::qt::QtOperator*>(ctx->Operator);
  ASSERT_NE(op, nullptr);
  // The bench hand wakes the pack behind the wake-up prompt, as bmsmon --simulate has it.
  bms::sim::PackHands hands(*pack, op);
  ctx->Operator = &hands;
  std::vector<std::string> asked;
  op->scripted = [&](const bms::Prompt& p) {
    asked.push_back(p.text);
    return bms::PromptAnswer::Yes;
  };
  // Typed by the operator.
  for (auto [name, text] : {std::pair{"EditEVTWorkNumber", "W-GUI"}, std::pair{"EditEVTBarcode", "GUI-1"}, std::pair{"EditEVTDevTestNumberInput", "3"}}) {
    auto* e = Find<QLineEdit>(main, name);
    e->setFocus();
    e->selectAll();
    for (char ch : std::string(text)) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(ch)));
      QCoreApplication::sendEvent(e, &press);
    }
  }
  ASSERT_TRUE(WaitUntil([&] { return ctx->FormMain.EditEVTDevTestNumber.text() == "3"; }));
  test->click();
  ASSERT_TRUE(WaitUntil([&] { return !main->isEnabled(); })) << ctx->FormMain.StatusBarView.item(2);
  ASSERT_TRUE(WaitUntil([&] { return Find<QWidget>(main, "EvtStopWindow") != nullptr; }));
  auto* result = Find<QLabel>(main, "PanelTestResult");
  ASSERT_TRUE(WaitUntil([&] { return main->isEnabled() && test->text() == "TEST"; }, 20000));
  EXPECT_EQ(result->text(), "PASS") << [&] {
    std::string all;
    for (const auto& l : ctx->Evt->lines()) all += l + "\n";
    return all;
  }();
  EXPECT_EQ(result->font().pointSize(), 36);
  EXPECT_EQ(Find<QLineEdit>(main, "EditEVTDevTestNumber")->text(), "2");
  EXPECT_EQ(Find<QLineEdit>(main, "EditEVTDevTestPassNumber")->text(), "1");
  EXPECT_EQ(Find<QLineEdit>(main, "EditEVTDevTestTotalNumber")->text(), "1");
  EXPECT_EQ(Find<QLineEdit>(main, "EditEVTBarcode")->text(), "");
  EXPECT_EQ(asked, (std::vector<std::string>{"   BMS 已經 Sleep?   ", "  BMS 已經 Wake up?   "}));
  auto* memo = Find<QPlainTextEdit>(main, "MemoLog");
  ASSERT_TRUE(WaitUntil([&] { return memo->toPlainText().endsWith(QStringLiteral("測試結果報告  :  PASS")); }));
  EXPECT_TRUE(memo->toPlainText().contains(QStringLiteral("3.  Sleep Command Write  :  BMS enter the sleep state")));
  op->scripted = nullptr;
  ctx->Operator = op;
}

}  // namespace
