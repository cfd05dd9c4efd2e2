// The EEP2 window in the whole tool as bmsmon --simulate starts it: opened
// from its button on the ENG tab, a read of Block C shown in the widgets,
// and the edits' limits taken from the window's table.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/qt/frontend.h"
#include "app/qt/main_window.h"
#include "core/context.h"
#include "core/shell/app.h"
#include "sim/port_factory.h"
#include "sim/scenario.h"
#include "sim/sim_port.h"
#include "sim/virtual_pack.h"
#include "gui_wait.h"

namespace {

using bms::qt::testing::Find;
using bms::qt::testing::WaitUntil;

class Eep2Gui : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    pack = std::make_unique<bms::sim::VirtualPack>(clock, bms::sim::DefaultScenario());
    ctx = std::make_unique<bms::Context>(clock, bms::sim::MakePortFactory(pack.get(), clock, nullptr));
    bms::StartOptions opts;
    opts.argv0 = dir.filePath("bmsmon").toStdString();
    opts.edition = "TQ58_ENG_";
    opts.data_dir = dir.path().toStdString();
    opts.simulate = true;
    bms::InitAppIdentity(*ctx, opts);
    fe = std::make_unique<bms::qt::Frontend>(*ctx);
    fe->attach();
    bms::CreateApplication(*ctx);
    // The port confirmed as the connection dialog's Yes does.
    ctx->FormConfig.CobBoxInterfaceName.set_text(bms::sim::kVirtualPortName);
    ctx->FormConfig.SpdBtnYES.set_enabled(true);
    ctx->FormConfig.SpdBtnYES.click();
  }
  void TearDown() override {
    bms::ExitApplication(*ctx);
    fe->detach();
    fe.reset();
    ctx.reset();
  }

  QTemporaryDir dir;
  bms::RealClock clock;
  std::unique_ptr<bms::sim::VirtualPack> pack;
  std::unique_ptr<bms::Context> ctx;
  std::unique_ptr<bms::qt::Frontend> fe;
};

TEST_F(Eep2Gui, OpensFromItsButtonAndShowsTheBlockRead) {
  auto* open = Find<QPushButton>(&fe->main_window(), "Button_EEP_Parameter");
  ASSERT_TRUE(WaitUntil([&] { return open->isEnabled(); }));
  EXPECT_EQ(open->text(), "EEP2");
  open->click();
  QWidget* w = fe->window_of(ctx->Form_EEP_PARAMETER);
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return w->isVisible(); }));
  EXPECT_EQ(w->windowTitle(), "EEP Parameter");
  auto* pages = Find<QTabWidget>(w, "PageControl_EEP_Parameter");
  EXPECT_EQ(pages->tabText(pages->currentIndex()), "Block C");
  EXPECT_FALSE(pages->isTabVisible(0)) << "Block A is hidden";

  auto* read = Find<QPushButton>(w, "BitBtn_Block_C_Read");
  EXPECT_EQ(read->toolTip(), QString::fromUtf8("紅色代表讀取Error, 綠色代表讀取OK."));
  read->click();
  auto* serial = Find<QLineEdit>(w, "Edit_Cell_Serial");
  auto* temp = Find<QLineEdit>(w, "Edit_DUT_Ptotect_Thr_Temp");
  ASSERT_TRUE(WaitUntil([&] { return serial->text() == "13" && temp->text() == "-200"; })) << serial->text().toStdString();
  ASSERT_TRUE(WaitUntil([&] { return read->palette().color(QPalette::ButtonText) == QColor(0x00, 0x80, 0x00); }));

  // Lengths and accepted characters come from the table.
  EXPECT_EQ(serial->maxLength(), 4);
  EXPECT_NE(serial->validator(), nullptr) << "digits only";
  EXPECT_EQ(temp->validator(), nullptr) << "temperatures take a minus sign";
  auto* type = Find<QLineEdit>(w, "Edit_Cell_Type");
  EXPECT_EQ(type->maxLength(), 16);
  EXPECT_EQ(type->validator(), nullptr);
  EXPECT_EQ(Find<QLineEdit>(w, "Edit_SOC_100")->maxLength(), 5);
}

}  // namespace
