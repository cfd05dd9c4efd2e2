#pragma once
// The secondary windows: connection dialog, password dialog, EEPROM history,
// diagnosis report, firmware data and parameter blocks. Closing any of them
// (close box or Escape) goes to the view-model, which hides the window.
#include <QDialog>

namespace bms::qt {

// A window of the tool that leaves hiding to the view-model.
class ToolDialog : public QDialog {
  Q_OBJECT
 public:
  ToolDialog(const char* name, bool centred, QWidget* parent = nullptr);

  // Escape closes like the close box (the model hides the window).
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  bool centred_;
  bool placed_ = false;
};

// "BMS Monitor Configure": interface, scan, baud rate, log switch.
class ConfigDialog : public ToolDialog {
  Q_OBJECT
 public:
  explicit ConfigDialog(QWidget* parent = nullptr);
};

// "Password": the masked edit of the engineering editions.
class PasswordDialog : public ToolDialog {
  Q_OBJECT
 public:
  explicit PasswordDialog(QWidget* parent = nullptr);
};

// Firmware data: protection parameters.
class FwDataDialog : public ToolDialog {
  Q_OBJECT
 public:
  explicit FwDataDialog(QWidget* parent = nullptr);
};

// Parameter blocks (EEP2).
class EepParameterWindow : public ToolDialog {
  Q_OBJECT
 public:
  explicit EepParameterWindow(QWidget* parent = nullptr);
};

}  // namespace bms::qt
