// The frame inspector in the running tool, offscreen: opened from the main
// window while polling runs, its rows read back against the wire log; the
// filters, the pause, the export and the count of skipped frames.
#include "app/qt/frame_inspector.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "app/qt/frontend.h"
#include "app/qt/main_window.h"
#include "core/context.h"
#include "core/link/frame.h"
#include "core/link/frame_describe.h"
#include "core/shell/app.h"
#include "sim/port_factory.h"
#include "sim/scenario.h"
#include "sim/sim_port.h"
#include "sim/virtual_pack.h"
#include "sim/wire_log.h"
#include "gui_wait.h"

namespace {

using bms::qt::testing::Find;
using bms::qt::testing::WaitUntil;

using bms::qt::FrameInspector;
using bms::qt::FrameTableModel;

std::string Cell(const QAbstractItemModel& m, int row, int column) { return m.data(m.index(row, column)).toString().toStdString(); }

class FrameInspectorSession : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    pack = std::make_unique<bms::sim::VirtualPack>(clock, bms::sim::DefaultScenario());
    ctx = std::make_unique<bms::Context>(clock, bms::sim::MakePortFactory(pack.get(), clock, &wire));
    bms::StartOptions opts;
    opts.argv0 = dir.filePath("bmsmon").toStdString();
    opts.edition = "TQ58_LIT_";
    opts.data_dir = dir.path().toStdString();
    opts.simulate = true;
    bms::InitAppIdentity(*ctx, opts);
    fe = std::make_unique<bms::qt::Frontend>(*ctx);
    fe->attach();
    bms::CreateApplication(*ctx);
    bms::ShowMainWindow(*ctx);
  }
  void TearDown() override {
    bms::ExitApplication(*ctx);
    fe->detach();
    fe.reset();
    ctx.reset();
  }
  void ConfirmVirtualPack() {
    QWidget* config = fe->window_of(ctx->FormConfig);
    ASSERT_TRUE(WaitUntil([&] { return config->isVisible(); }));
    auto* port = Find<QComboBox>(config, "CobBoxInterfaceName");
    ASSERT_TRUE(WaitUntil([&] { return port->findText(bms::sim::kVirtualPortName) >= 0; }));
    QMetaObject::invokeMethod(port, "activated", Q_ARG(int, port->findText(bms::sim::kVirtualPortName)));
    auto* yes = Find<QPushButton>(config, "SpdBtnYES");
    ASSERT_TRUE(WaitUntil([&] { return yes->isEnabled(); }));
    yes->click();
    ASSERT_TRUE(WaitUntil([&] { return !config->isVisible(); }));
  }

  QTemporaryDir dir;
  bms::RealClock clock;
  bms::sim::WireLog wire;
  std::unique_ptr<bms::sim::VirtualPack> pack;
  std::unique_ptr<bms::Context> ctx;
  std::unique_ptr<bms::qt::Frontend> fe;
};

TEST_F(FrameInspectorSession, OpenedDuringPollingListsTheFramesOfTheWire) {
  ConfirmVirtualPack();
  QWidget* main = &fe->main_window();
  auto* run = Find<QPushButton>(main, "SpdBtnRUN");
  ASSERT_TRUE(WaitUntil([&] { return run->isEnabled(); }));
  run->click();
  ASSERT_TRUE(WaitUntil([&] { return run->text() == "STOP"; }));

  FrameInspector& inspector = fe->frame_inspector();
  EXPECT_FALSE(ctx->FrameTaps.listening()) << "nobody listens before the window opens";
  Find<QPushButton>(main, "BtnFrameInspector")->click();
  ASSERT_TRUE(inspector.isVisible());
  EXPECT_TRUE(ctx->FrameTaps.listening());
  auto* table = Find<QTableView>(&inspector, "FrameInspectorTable");
  const QAbstractItemModel& rows = *table->model();
  // Enough for a request and its reply of a full cycle.
  ASSERT_TRUE(WaitUntil([&] { return rows.rowCount() >= 20; })) << rows.rowCount();
  run->click();  // STOP
  ASSERT_TRUE(WaitUntil([&] { return run->text() != "STOP" && !ctx->MonitorActive.load(); }));
  inspector.drain();

  // Every row is a frame the wire log saw, with its bytes, in its order.
  std::string wire_tx, wire_rx;
  for (const auto& e : wire.entries()) (e.dir == bms::sim::Direction::HostToPack ? wire_tx : wire_rx) += bms::sim::HexBytes(e.bytes.data(), e.bytes.size()) + " ";
  std::string shown_tx;
  size_t rx_at = 0, rx_rows = 0;
  std::set<std::string> meanings;
  for (int r = 0; r < rows.rowCount(); ++r) {
    const std::string bytes = Cell(rows, r, FrameTableModel::kBytes);
    if (Cell(rows, r, FrameTableModel::kDirection) == "TX") {
      shown_tx += bytes + " ";
    } else {
      // In the order the pack sent them; bytes the link purged before a
      // read (the real clock lets a reply start early) are not listed.
      const size_t found = wire_rx.find(bytes, rx_at);
      EXPECT_NE(found, std::string::npos) << bytes;
      if (found != std::string::npos) rx_at = found + bytes.size();
      ++rx_rows;
    }
    EXPECT_EQ(Cell(rows, r, FrameTableModel::kCheck).find("BAD"), std::string::npos) << bytes;
    const std::string meaning = Cell(rows, r, FrameTableModel::kMeaning);
    meanings.insert(meaning.substr(0, meaning.find(' ')));
  }
  ASSERT_FALSE(shown_tx.empty());
  ASSERT_GT(rx_rows, 0u);
  EXPECT_NE(wire_tx.find(shown_tx), std::string::npos) << "the frames shown are a run of the host's writes";
  EXPECT_TRUE(meanings.count("request")) << "a request frame is shown";
  EXPECT_TRUE(meanings.count("reply")) << "a reply is shown";
  EXPECT_EQ(Cell(rows, 1, FrameTableModel::kWait)[0], '+');
  EXPECT_EQ(inspector.skipped(), 0u);
  EXPECT_TRUE(Find<QLabel>(&inspector, "FrameInspectorSkipped")->isHidden());

  inspector.close();
  EXPECT_FALSE(ctx->FrameTaps.listening()) << "a closed window costs the link nothing";
}

// The filters, the pause, the skipped-frames counter and the export, on
// frames handed to the tap directly.
TEST_F(FrameInspectorSession, FiltersPauseSkipCountAndExport) {
  FrameInspector inspector(*ctx, nullptr, /*queue_frames=*/8, /*max_rows=*/1000);
  inspector.start_listening();
  const bms::LinkFrame request = [] {
    const uint8_t p[3] = {0, 0, 0};
    return bms::BuildRequestFrame(0x1001, 1, p, 0);
  }();
  const uint8_t poll[3] = {0x26, 0x0D, 0x0A};
  const uint8_t stray[2] = {0x00, 0x00};
  ctx->FrameTaps.written(100, request.data(), request.size());
  ctx->FrameTaps.written(150, poll, 3);
  ctx->FrameTaps.read(210, stray, 2);
  inspector.drain();
  QAbstractItemModel& rows = *Find<QTableView>(&inspector, "FrameInspectorTable")->model();
  ASSERT_EQ(rows.rowCount(), 3);
  EXPECT_EQ(Cell(rows, 0, FrameTableModel::kMeaning), "request 0x1001 length 1");
  EXPECT_EQ(Cell(rows, 1, FrameTableModel::kWait), "+50");
  EXPECT_EQ(Cell(rows, 2, FrameTableModel::kCheck), "no frame");

  auto* direction = Find<QComboBox>(&inspector, "FrameInspectorDirection");
  direction->setCurrentIndex(2);
  ASSERT_EQ(rows.rowCount(), 1);
  EXPECT_EQ(Cell(rows, 0, FrameTableModel::kDirection), "RX");
  direction->setCurrentIndex(0);
  auto* address = Find<QLineEdit>(&inspector, "FrameInspectorAddress");
  address->setText("1001");
  ASSERT_EQ(rows.rowCount(), 1);
  EXPECT_EQ(Cell(rows, 0, FrameTableModel::kTime), "100");
  address->setText("0x4006");
  EXPECT_EQ(rows.rowCount(), 0);
  address->setText("zz");
  EXPECT_EQ(rows.rowCount(), 0) << "text that is no address shows nothing";
  address->clear();
  ASSERT_EQ(rows.rowCount(), 3);

  // Paused, the list stands still; frames are held and shown on resume.
  auto* pause = Find<QPushButton>(&inspector, "FrameInspectorPause");
  pause->click();
  ctx->FrameTaps.written(300, poll, 3);
  inspector.drain();
  EXPECT_EQ(rows.rowCount(), 3);
  pause->click();
  EXPECT_EQ(rows.rowCount(), 4);

  // A flood beyond the queue: 20 frames into a queue of 8 before the
  // window takes them; 12 are counted, none silently lost.
  for (int i = 0; i < 20; ++i) ctx->FrameTaps.written(400 + i, poll, 3);
  auto* skipped = Find<QLabel>(&inspector, "FrameInspectorSkipped");
  EXPECT_TRUE(skipped->isHidden());
  inspector.drain();
  EXPECT_EQ(rows.rowCount(), 12);
  EXPECT_EQ(inspector.skipped(), 12u);
  EXPECT_FALSE(skipped->isHidden());
  EXPECT_EQ(skipped->text().toStdString(), "12 frames skipped");

  const QString path = dir.filePath("frames.txt");
  QString why;
  ASSERT_TRUE(inspector.export_to(path, &why)) << why.toStdString();
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 13);  // 12 frames and the line of the skip before the first after it
  EXPECT_EQ(lines[0].toStdString(), "       100 ms |          - | TX | 40 00 01 10 01 00 01 00 00 00 00 51 0D | request 0x1001 length 1 | checksum ok");
  EXPECT_EQ(lines[4].toStdString(), "       400 ms |    +100 ms | TX | 26 0D 0A | status poll | -");
  EXPECT_EQ(lines[12].toStdString(), "-- 12 frames skipped (the queue was full) --");
  inspector.stop_listening();
}

}  // namespace
