#include "app/qt/windows.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/qt/build.h"

namespace bms::qt {

using namespace build;

// ---------------------------------------------------------------- ToolDialog

ToolDialog::ToolDialog(const char* name, bool centred, QWidget* parent) : QDialog(parent), centred_(centred) {
  setObjectName(QString::fromLatin1(name));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
  setModal(false);
}

void ToolDialog::reject() { close(); }

void ToolDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!centred_ || placed_) return;
  placed_ = true;
  if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

// ---------------------------------------------------------------- ConfigDialog

ConfigDialog::ConfigDialog(QWidget* parent) : ToolDialog("FormConfig", true, parent) {
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(14, 12, 14, 12);
  v->setSpacing(8);
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(8);
  grid->addWidget(NamedLabel("Label1"), 0, 0);
  grid->addWidget(Combo("CobBoxInterfaceName", 170), 0, 1);
  grid->addWidget(Button("SpdBtnSCAN", 70), 0, 2);
  auto* gauge = Gauge("CGaugeProgress", Qt::Horizontal);
  gauge->setFillColor(QColor(0x00, 0x80, 0x00));
  gauge->setTroughColor(QColor(0xd3, 0xd3, 0xd3));
  gauge->setFixedHeight(14);
  grid->addWidget(gauge, 1, 0, 1, 3);
  grid->addWidget(NamedLabel("LbInterfaceName"), 2, 0, 1, 3);
  grid->addWidget(NamedLabel("Label2"), 3, 0);
  grid->addWidget(Combo("ComboBoxBaudRate", 170), 3, 1);
  grid->addWidget(NamedLabel("Label3"), 3, 2);
  v->addLayout(grid);
  v->addLayout(Row({Check("CheckBoxLogFileSave"), nullptr, Button("SpdBtnYES", 70), Button("SpdBtnCANCEL", 70)}));
  Compact(this);
  setFixedSize(sizeHint().expandedTo(QSize(380, 0)));
}

// ---------------------------------------------------------------- PasswordDialog

PasswordDialog::PasswordDialog(QWidget* parent) : ToolDialog("Form_ENG_Password", true, parent) {
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(16, 14, 16, 12);
  v->setSpacing(10);
  v->addWidget(NamedLabel("Label_Password"));
  auto* edit = Input("Edit_ENG_Password", 240);
  edit->setEchoMode(QLineEdit::Password);
  // Every character is shown as '*'.
  edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42; background: white;"));
  v->addWidget(edit);
  v->addLayout(Row({nullptr, Button("BitBtn_Yes", 80), Button("BitBtn_No", 80)}));
  Compact(this);
  setFixedSize(sizeHint().expandedTo(QSize(300, 0)));
}

// ---------------------------------------------------------------- EepromWindow

EepromWindow::EepromWindow(QWidget* parent) : ToolDialog("FormEEPROM", true, parent) {
  auto* v = new QVBoxLayout(this);
  auto* pages = Named(new QTabWidget, "PageControlEEP");
  struct PageDef {
    const char* page;
    const char* caption;
    const char* memo;
  };
  const PageDef defs[] = {{"TabSheetHeader", "Header", "MemoEEPHeader"},
                          {"TabSheetProtection", "Protection", "MemoEEPProtect"},
                          {"TabSheetLEAD", "LEAD", "MemoEEPNormalLEAD"},
                          {"TabSheet1", "LAST", "MemoEEPNormalLAST"}};
  for (const PageDef& d : defs) {
    auto* page = Named(new QWidget, d.page);
    auto* pl = new QVBoxLayout(page);
    auto* memo = Memo(d.memo);
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setStyleHint(QFont::Monospace);
    memo->setFont(mono);
    pl->addWidget(memo);
    pages->addTab(page, QString::fromLatin1(d.caption));
  }
  v->addWidget(pages, 1);
  auto* range = NamedGroup("GroupBoxEEPRangeRead");
  range->setTitle(QStringLiteral("EPP Data Range read"));
  range->setLayout(Row({Button("BitBtnEEPPreView", 70), Text(QStringLiteral("Start")), Combo("ComboBoxEEPStartAddrRead", 80), Text(QStringLiteral("to")),
                        Combo("ComboBoxEEPEndAddrRead", 80), Button("BitBtnEEPRange", 60), Button("BitBtnClean", 60, "Clean"), nullptr}));
  v->addLayout(Row({Button("BitBtnEEPBlockChoiceRead", 80), nullptr}));
  v->addWidget(range);
  Compact(this);
  resize(568, 618);
}

// ---------------------------------------------------------------- DiagnosisReportWindow

DiagnosisReportWindow::DiagnosisReportWindow(QWidget* parent) : ToolDialog("FormDiagnosisReport", true, parent) {
  auto* v = new QVBoxLayout(this);
  struct Item {
    const char* caption;
    const char* label;
  };
  auto section = [&](const QString& heading, std::initializer_list<Item> items) {
    auto* g = Group(heading);
    auto* grid = new QGridLayout(g);
    grid->setVerticalSpacing(2);
    int i = 0;
    const int rows = (static_cast<int>(items.size()) + 1) / 2;
    for (const Item& it : items) {
      const int r = i % rows;
      const int c = i / rows * 2;
      grid->addWidget(Text(QString::fromUtf8(it.caption)), r, c);
      grid->addWidget(NamedLabel(it.label), r, c + 1);
      ++i;
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    v->addWidget(g);
  };
  section(QStringLiteral("Product Information"), {{"Model name", "Label_ModelName"},
                                                  {"Cell type", "Label_CellType"},
                                                  {"Manufacturing date", "Label_MftDate"},
                                                  {"Design capacity", "Label_DC"},
                                                  {"Maximal Charge Current", "Label_MaxCghCurrent"},
                                                  {"Maximal Charge Voltage", "Label_MaxChgVoltage"},
                                                  {"Expiration date", "Label_ExpDate"},
                                                  {"Warranty cycles", "Label_WarrantyCycle"},
                                                  {"Manufacturer", "Label_MFTName"},
                                                  {"Cell configuration", "Label_CellCfg"},
                                                  {"Maximal discharge current", "Label_MaxDsgCurrentA"},
                                                  {"Pulse Discharge Current", "Label_PulseDsgCurrentA"},
                                                  {"Pulse Discharge Duration", "Label_PulseDsgDurationSec"},
                                                  {"Barcode", "Label_Barcode"}});
  section(QStringLiteral("Battery condition read out"), {{"Read out date", "Label_ReadOutDate"},
                                                         {"Read out time", "Label_ReadOutTime"},
                                                         {"Cycle count", "Label_CycleCnt"},
                                                         {"State of charge", "Label_PSOC"},
                                                         {"Charge/Discharge current", "Label_ChgDsgCurrentmA"},
                                                         {"Battery voltage", "Label_PackVoltage"},
                                                         {"Full charge capacity", "Label_FCC"},
                                                         {"Battery temperatute", "Label_T1"},
                                                         {"Maximal cell voltage", "Label_MaxCellVolt"},
                                                         {"Minimal cell voltage", "Label_MinCellVolt"},
                                                         {"Cell Imbalance", "Label_CellImbalance"},
                                                         {"Protocoltion Flag", "Label_ProtectFlag"}});
  section(QStringLiteral("Summary of Key Charge / Discharge Actions"), {{"Last charge date", "Label_LastChgDate"},
                                                                        {"Last charge SOC", "Label_LastChgSOC"},
                                                                        {"Total charge events", "Label_TotalChgEvtCnt"},
                                                                        {"Total discharge events", "Label_TotalDsgEvtCnt"},
                                                                        {"First full charge date(>80%)", "Label_FstFullChgDate"},
                                                                        {"Last charge date(>80%)", "Label_LastFullChgDate"},
                                                                        {"First time depletion(<1%) date", "Label_FstDsgDepletionDate"},
                                                                        {"Last time depletion(<1%) date", "Label_LastDsgDepletionDate"},
                                                                        {"Maximal low SOC since", "Label_MaxChgLowSOCsinceDate"},
                                                                        {"Extracted from discharge record at", "Label_ExtDsgRecAtDate"},
                                                                        {"Maximal duration @low SOC", "Label_MaxDurationLowSOC0Hours"},
                                                                        {"Total charge capacity", "Label_ReportTotalCC"}});
  section(QStringLiteral("Conclusion of Diagnosis report"), {{"Warranty is", "Label_TotalWarrantyCnt"}, {"Date  : ", "Label_DateNow"}});
  v->addStretch(1);
  Compact(this);
  resize(720, 640);
}

// ---------------------------------------------------------------- FwDataDialog

FwDataDialog::FwDataDialog(QWidget* parent) : ToolDialog("PagesDlgFWData", true, parent) {
  auto* v = new QVBoxLayout(this);
  auto* pages = Named(new QTabWidget, "PageControlFW");
  auto* param = Named(new QWidget, "TabSheetFWParameter");
  auto* ph = new QHBoxLayout(param);
  struct Value {
    const char* edit;
    const char* caption;
    const char* unit;
  };
  auto group = [&](const QString& title, std::initializer_list<Value> values, int columns) {
    auto* g = Group(title);
    auto* grid = new QGridLayout(g);
    grid->setVerticalSpacing(3);
    const int rows = (static_cast<int>(values.size()) + columns - 1) / columns;
    int i = 0;
    for (const Value& val : values) {
      const int r = i % rows;
      const int c = i / rows * 3;
      grid->addWidget(Text(QString::fromUtf8(val.caption)), r, c);
      auto* e = Input(val.edit, 60, 4);
      e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      grid->addWidget(e, r, c + 1);
      grid->addWidget(Text(QString::fromUtf8(val.unit)), r, c + 2);
      ++i;
    }
    return g;
  };
  ph->addWidget(
      group(QStringLiteral(" FW Protect Parameter "),
            {{"EditCOTEvent", "COT Event", "℃"},  {"EditCOTRelease", "COT Release", "℃"},  {"EditCOTEvtDly", "COT Evt Dly", "sec"}, {"EditCOTRlsDly", "COT Rls Dly", "sec"},
             {"EditCUTEvent", "CUT Event", "℃"},  {"EditCUTRelease", "CUT Release", "℃"},  {"EditCUTEvtDly", "CUT Evt Dly", "sec"}, {"EditCUTRlsDly", "CUT Rls Dly", "sec"},
             {"EditDOTEvent", "DOT Event", "℃"},  {"EditDOTRelease", "DOT Release", "℃"},  {"EditDOTEvtDly", "DOT Evt Dly", "sec"}, {"EditDOTRlsDly", "DOT Rls Dly", "sec"},
             {"EditDUTEvent", "DUT Event", "℃"},  {"EditDUTRelease", "DUT Release", "℃"},  {"EditDUTEvtDly", "DUT Evt Dly", "sec"}, {"EditDUTRlsDly", "DUT Rls Dly", "sec"},
             {"EditCOCEvent", "COC Event", "mA"}, {"EditCOCRelease", "COC Release", "mA"}, {"EditCOCEvtDly", "COC Evt Dly", "sec"}, {"EditCOCRlsDly", "COC Rls Dly", "sec"},
             {"EditDOCEvent", "DOC Event", "mA"}, {"EditDOCRelease", "DOC Release", "mA"}, {"EditDOCEvtDly", "DOC Evt Dly", "sec"}, {"EditDOCRlsDly", "DOC Rls Dly", "sec"}},
            2));
  auto* ovuv = group(QStringLiteral("OV UV Read/Write"),
                     {{"EditSWOVSet", "OV Thd", "mV"},
                      {"EditSWOVClear", "OV Rls", "mV"},
                      {"EditSWOVDelay", "OV Thd Dly", "sec"},
                      {"EditSWOVRelease", "OV Rls Dly", "sec"},
                      {"EditSWUVSet", "UV Thd", "mV"},
                      {"EditSWUVClear", "UV Rls", "mV"},
                      {"EditSWUVDelay", "UV Thd Dly", "sec"},
                      {"EditSWUVRelease", "UV Rls Dly", "sec"}},
                     1);
  ovuv->setEnabled(false);
  ph->addWidget(ovuv, 0, Qt::AlignTop);
  pages->addTab(param, QStringLiteral("Parameter"));
  auto* socv = Named(new QWidget, "TabSheetsocv");
  (new QVBoxLayout(socv))->addWidget(Text(QStringLiteral("SOC-OCV table")));
  pages->addTab(socv, QStringLiteral("SOCV"));
  v->addWidget(pages, 1);
  v->addLayout(
      Row({nullptr, Button("BitBtnFWDataRead", 70, "Read"), Button("BitBtnFWDataWrite", 70, "Write"), Button("BitBtnFWDataLoad", 70, "Load"), Button("BitBtnClean", 70, "Clean")}));
  Compact(this);
}

// EepParameterWindow: eep2_window.cpp, built from the window's table.

}  // namespace bms::qt
