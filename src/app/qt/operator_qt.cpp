#include "app/qt/operator_qt.h"

#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <condition_variable>
#include <mutex>

#include "core/production_test/production_test.h"

namespace bms::qt {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

QtOperator::QtOperator(bms::Context& ctx, QWidget* owner) : ctx_(ctx), owner_(owner) {
  // A tool window of its own: it stays usable while the main window is
  // disabled during a run, so the operator can always stop the test.
  stop_window_ = new QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint);
  stop_window_->setObjectName(QStringLiteral("EvtStopWindow"));
  stop_window_->setWindowTitle(QStringLiteral("Production test"));
  auto* row = new QHBoxLayout(stop_window_);
  row->addWidget(new QLabel(QStringLiteral("Test running")));
  auto* stop = new QPushButton(QStringLiteral("STOP"), stop_window_);
  stop->setObjectName(QStringLiteral("EvtStopButton"));
  row->addWidget(stop);
  connect(stop, &QPushButton::clicked, this, [this] { ctx_.FormMain.SpdBtnEVTTest.click(); });
  // "Save report": writes the report of the last run again when it could
  // not be written (status panel 2 said why).
  if (owner) {
    if (auto* test = owner->findChild<QPushButton*>(QStringLiteral("SpdBtnEVTTest")); test && test->parentWidget() && test->parentWidget()->layout()) {
      save_ = new QPushButton(QStringLiteral("Save report"), test->parentWidget());
      save_->setObjectName(QStringLiteral("EvtSaveReport"));
      save_->setEnabled(false);
      test->parentWidget()->layout()->addWidget(save_);
      connect(save_, &QPushButton::clicked, this, [this] { bms::SaveEvtReportAgain(ctx_); });
    }
  }
  watch_.setInterval(200);
  connect(&watch_, &QTimer::timeout, this, [this] { UpdateStopWindow(); });
  watch_.start();
}

QtOperator::~QtOperator() { watch_.stop(); }

void QtOperator::UpdateStopWindow() {
  if (save_) {
    const bms::EvtOutcome o = ctx_.Evt->outcome.get();
    save_->setEnabled(o.finished && !o.report_written && !ctx_.Evt->running.load());
  }
  const bool running = ctx_.FormMain.SpdBtnEVTTest.text() == "STOP" && !ctx_.FormMain.self.enabled();
  if (running && !stop_window_->isVisible()) {
    stop_window_->setEnabled(true);
    stop_window_->show();
  } else if (!running && stop_window_->isVisible()) {
    stop_window_->hide();
  }
}

template <typename F>
auto QtOperator::OnGuiThread(F&& f) {
  using R = decltype(f());
  if (QThread::currentThread() == thread()) return f();
  // The hand-over is guarded by our own mutex, not only by Qt's blocking
  // queue, so the result's way back is visible to the thread sanitizer too.
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  R result{};
  QMetaObject::invokeMethod(
      this,
      [&] {
        R r = f();
        {
          std::lock_guard<std::mutex> lock(mu);
          result = std::move(r);
          done = true;
        }
        cv.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(mu);
  cv.wait(lock, [&] { return done; });
  return result;
}

bms::PromptAnswer QtOperator::Ask(const bms::Prompt& prompt) {
  return OnGuiThread([&] {
    if (scripted) return scripted(prompt);
    QMessageBox box(owner_);
    box.setWindowTitle(Q(prompt.title));
    box.setText(Q(prompt.text));
    box.setIcon(prompt.buttons == bms::PromptButtons::Ok ? QMessageBox::Information : QMessageBox::Question);
    box.setStandardButtons(prompt.buttons == bms::PromptButtons::Ok ? QMessageBox::Ok : (QMessageBox::Yes | QMessageBox::No));
    box.setWindowModality(Qt::ApplicationModal);
    box.setEnabled(true);  // the owner is disabled while a test runs
    const int r = box.exec();
    if (r == QMessageBox::Yes) return bms::PromptAnswer::Yes;
    if (r == QMessageBox::No) return bms::PromptAnswer::No;
    return bms::PromptAnswer::Ok;
  });
}

std::string QtOperator::ChooseOpenFile(const std::string& title, const std::string& filter) {
  return OnGuiThread([&] { return QFileDialog::getOpenFileName(owner_, Q(title), QString(), Q(filter)).toStdString(); });
}

}  // namespace bms::qt
