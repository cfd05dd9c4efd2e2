#include "app/qt/operator_qt.h"

#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

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
  watch_.setInterval(200);
  connect(&watch_, &QTimer::timeout, this, [this] { UpdateStopWindow(); });
  watch_.start();
}

QtOperator::~QtOperator() { watch_.stop(); }

void QtOperator::UpdateStopWindow() {
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
  R result{};
  QMetaObject::invokeMethod(
      this, [&] { result = f(); }, Qt::BlockingQueuedConnection);
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
