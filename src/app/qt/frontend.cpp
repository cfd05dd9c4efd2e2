#include "app/qt/frontend.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFont>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyleFactory>
#include <exception>

#include "app/qt/build.h"
#include "app/qt/diagnosis_window.h"
#include "app/qt/frame_inspector.h"
#include "app/qt/history_window.h"
#include "app/qt/main_window.h"
#include "app/qt/operator_qt.h"
#include "app/qt/plot_panel.h"
#include "app/qt/windows.h"

namespace bms::qt {

namespace {
const char* const kApplicationTitle = "Corvane BMS Monitor";
}  // namespace

// ---------------------------------------------------------------- GuiApplication

GuiApplication::GuiApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("bmsmon"));
  SetupLook(*this);
}

void GuiApplication::SetupLook(QApplication& app) {
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
  // Latin texts in DejaVu Sans; Chinese texts (traditional forms) fall back
  // to Noto Sans CJK TC.
  QFont::insertSubstitutions(QStringLiteral("DejaVu Sans"), {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("Noto Sans CJK SC")});
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPointSize(9);
  app.setFont(font);
  // Group captions sit on the frame line, as operators of the tool know them.
  app.setStyleSheet(
      QStringLiteral("QGroupBox { border: 1px solid #a8b0a0; border-radius: 3px; margin-top: 8px; padding-top: 2px; }"
                     "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 8px; padding: 0 3px; }"));
}

bool GuiApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    report(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    report(QString());
  }
  return false;
}

void GuiApplication::report(const QString& message) {
  if (error_reporter_) {
    error_reporter_(message);
    return;
  }
  if (reporting_) return;  // one box at a time; the first error is the one to read
  reporting_ = true;
  QMessageBox::critical(activeWindow(), QString::fromLatin1(kApplicationTitle), message);
  reporting_ = false;
}

void ReportHandlerError(const QString& message) {
  if (auto* app = qobject_cast<GuiApplication*>(QCoreApplication::instance()))
    app->report(message);
  else
    qWarning("bmsmon: %s", qPrintable(message));
}

// ---------------------------------------------------------------- Frontend

Frontend::Frontend(bms::Context& ctx) : ctx_(ctx), binder_(std::make_unique<Binder>()), main_(std::make_unique<MainWindow>()) {
  others_.emplace_back(&ctx_.FormConfig, std::make_unique<ConfigDialog>());
  others_.emplace_back(&ctx_.FormEEPROM, std::make_unique<HistoryWindow>(&ctx_));
  others_.emplace_back(&ctx_.FormDiagnosisReport, std::make_unique<DiagnosisWindow>(&ctx_));
  others_.emplace_back(&ctx_.PagesDlgFWData, std::make_unique<FwDataDialog>());
  others_.emplace_back(&ctx_.Form_EEP_PARAMETER, std::make_unique<EepParameterWindow>());
  others_.emplace_back(&ctx_.Form_ENG_Password, std::make_unique<PasswordDialog>());
  plots_ = new PlotPanel(ctx_, main_.get());
  supervisor_ = std::make_unique<bms::PortSupervisor>(ctx_, std::make_unique<bms::SysfsPortLocator>(), bms::PortSupervisor::Mode::Offer);
  supervisor_->attach();
  // Every frame on the link, in a window of its own; it listens only while shown.
  inspector_ = std::make_unique<FrameInspector>(ctx_);
  auto* frames = new QPushButton(QStringLiteral("Frames"));
  frames->setObjectName(QStringLiteral("BtnFrameInspector"));
  frames->setToolTip(QStringLiteral("Frame inspector: every frame on the link"));
  main_->statusBar()->addPermanentWidget(frames);
  QObject::connect(frames, &QPushButton::clicked, inspector_.get(), [w = inspector_.get()] {
    w->show();
    w->raise();
    w->activateWindow();
  });
}

Frontend::~Frontend() {
  detach();
  supervisor_.reset();
  operator_.reset();
  others_.clear();
  main_.reset();
  binder_.reset();
}

void Frontend::attach() {
  if (attached_) return;
  attached_ = true;
  {
    std::lock_guard<std::mutex> lock(ctx_.ui_lock);
    ctx_.ui_sink = binder_.get();
  }
  // Closing the main window (or EXIT) ends the event loop. exit() rather
  // than quit(): quit() first asks every window to close, and the windows
  // leave closing to the view-model.
  ctx_.QuitApplication = [] {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(
          app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  };
  binder_->bind(ctx_.FormMain, main_.get());
  for (auto& [form, window] : others_) binder_->bind(*const_cast<bms::Form*>(form), window.get());
  disable_placeholders();
  if (!operator_) operator_ = std::make_unique<QtOperator>(ctx_, main_.get());
  if (!ctx_.Operator) ctx_.Operator = operator_.get();
}

void Frontend::detach() {
  if (!attached_) return;
  attached_ = false;
  {
    // Under the model lock: once this returns no worker is inside post().
    std::lock_guard<std::mutex> lock(ctx_.ui_lock);
    if (ctx_.ui_sink == binder_.get()) ctx_.ui_sink = nullptr;
  }
  binder_->clear();
  if (ctx_.Operator == operator_.get()) ctx_.Operator = nullptr;
}

QWidget* Frontend::window_of(const bms::Form& form) const {
  if (&form == &ctx_.FormMain) return main_.get();
  for (const auto& [f, w] : others_)
    if (f == &form) return w.get();
  return nullptr;
}

std::vector<QWidget*> Frontend::windows() const {
  std::vector<QWidget*> out{main_.get()};
  for (const auto& [f, w] : others_) out.push_back(w.get());
  return out;
}

void Frontend::disable_placeholders() {
  // Widgets laid out for controls the view-model does not carry yet stay
  // visible but cannot be operated.
  for (QWidget* root : windows()) {
    for (QWidget* w : root->findChildren<QWidget*>()) {
      if (!w->property(build::kControlProperty).toBool()) continue;
      const bool operable = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QSpinBox*>(w);
      if (!operable) continue;
      const bms::Form* form = root == main_.get() ? &ctx_.FormMain : nullptr;
      for (const auto& [f, win] : others_)
        if (win.get() == root) form = f;
      if (form && !form->find(w->objectName().toStdString())) w->setEnabled(false);
    }
  }
}

}  // namespace bms::qt
