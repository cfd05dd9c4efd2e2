#include "app/qt/windows.h"

#include <algorithm>

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/qt/build.h"
#include "app/qt/socv_chart.h"

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
  // What the selected port is and whether this user may open it.
  auto* details = NamedLabel("LabelPortDetails");
  details->setWordWrap(true);
  details->setTextInteractionFlags(Qt::TextSelectableByMouse);
  details->setMinimumHeight(details->fontMetrics().lineSpacing() * 5);  // the details run to five lines
  grid->addWidget(details, 4, 0, 1, 3);
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
  auto groupNamed = [&](const char* name, const QString& title, std::initializer_list<Value> values, int columns) { return Named(group(title, values, columns), name); };
  ph->addWidget(
      groupNamed("GroupBoxFWProtect", QStringLiteral(" FW Protect Parameter "),
            {{"EditCOTEvent", "COT Event", "℃"},  {"EditCOTRelease", "COT Release", "℃"},  {"EditCOTEvtDly", "COT Evt Dly", "sec"}, {"EditCOTRlsDly", "COT Rls Dly", "sec"},
             {"EditCUTEvent", "CUT Event", "℃"},  {"EditCUTRelease", "CUT Release", "℃"},  {"EditCUTEvtDly", "CUT Evt Dly", "sec"}, {"EditCUTRlsDly", "CUT Rls Dly", "sec"},
             {"EditDOTEvent", "DOT Event", "℃"},  {"EditDOTRelease", "DOT Release", "℃"},  {"EditDOTEvtDly", "DOT Evt Dly", "sec"}, {"EditDOTRlsDly", "DOT Rls Dly", "sec"},
             {"EditDUTEvent", "DUT Event", "℃"},  {"EditDUTRelease", "DUT Release", "℃"},  {"EditDUTEvtDly", "DUT Evt Dly", "sec"}, {"EditDUTRlsDly", "DUT Rls Dly", "sec"},
             {"EditCOCEvent", "COC Event", "mA"}, {"EditCOCRelease", "COC Release", "mA"}, {"EditCOCEvtDly", "COC Evt Dly", "sec"}, {"EditCOCRlsDly", "COC Rls Dly", "sec"},
             {"EditDOCEvent", "DOC Event", "mA"}, {"EditDOCRelease", "DOC Release", "mA"}, {"EditDOCEvtDly", "DOC Evt Dly", "sec"}, {"EditDOCRlsDly", "DOC Rls Dly", "sec"}},
            2));
  auto* ovuv = groupNamed("GroupBoxOVUV", QStringLiteral("OV UV Read/Write"),
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
  {
    // Eleven columns of points: 1~10, 11~20, ... 91~100, 101.
    auto* sv = new QVBoxLayout(socv);
    auto* table = Named(Group(QStringLiteral(" SOC VCell Table ")), "GroupBoxSOCVTable");
    auto* grid = new QGridLayout(table);
    grid->setVerticalSpacing(2);
    auto* chart = new SocvChart;
    for (int col = 0; col < 11; ++col) {
      const int first = col * 10 + 1;
      grid->addWidget(Text(col < 10 ? QStringLiteral("%1~%2").arg(first).arg(first + 9) : QStringLiteral("101")), 0, col);
      for (int n = first; n <= std::min(first + 9, 101); ++n) {
        auto* e = Input(QStringLiteral("EditSOCV%1").arg(n).toUtf8().constData(), 52, 4);
        e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(e, n - first + 1, col);
        chart->track(n, e);
      }
    }
    sv->addWidget(table);
    sv->addWidget(NamedLabel("LabelSOCVUnit"));
    sv->addWidget(chart, 1);
  }
  pages->addTab(socv, QStringLiteral("SOCV"));
  v->addWidget(pages, 1);
  v->addWidget(NamedLabel("LabelFWDataStatus"));
  v->addLayout(
      Row({nullptr, Button("BitBtnFWDataRead", 70, "Read"), Button("BitBtnFWDataWrite", 70, "Write"), Button("BitBtnFWDataLoad", 70, "Load"), Button("BitBtnClean", 70, "Clean")}));
  Compact(this);
}

// EepParameterWindow: eep2_window.cpp, built from the window's table.

}  // namespace bms::qt
