#include "app/qt/main_window.h"

#include <QFormLayout>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/qt/build.h"
#include "app/qt/stale_bar.h"

namespace bms::qt {

using namespace build;

namespace {

constexpr int kValueWidth = 86;  // numeric display edits
constexpr int kCellEditWidth = 50;

QByteArray N(const char* stem, int i, const char* tail = "") { return QByteArray(stem) + QByteArray::number(i) + QByteArray(tail); }

// Caption, value and unit in three columns of a grid.
void AddValueRow(QGridLayout* g, int row, const QString& caption, QWidget* value, const QString& unit = QString(), int col = 0) {
  g->addWidget(Text(caption), row, col);
  g->addWidget(value, row, col + 1);
  if (!unit.isEmpty()) g->addWidget(Text(unit), row, col + 2);
}

QGridLayout* GridIn(QWidget* parent) {
  auto* g = new QGridLayout(parent);
  g->setHorizontalSpacing(6);
  g->setVerticalSpacing(5);
  return g;
}

QWidget* Page(const char* name) {
  auto* w = Named(new QWidget, name);
  return w;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("FormMain"));
  auto* central = new QWidget;
  auto* v = new QVBoxLayout(central);
  v->setContentsMargins(8, 6, 8, 4);
  v->setSpacing(6);
  v->addWidget(buildTopBar());
  auto* upper = new QHBoxLayout;
  upper->setSpacing(8);
  auto* left = new QVBoxLayout;
  left->setSpacing(6);
  left->addWidget(buildCellVoltages(), 1);
  left->addWidget(buildBatteryStatus());
  upper->addLayout(left, 1);
  upper->addWidget(buildRightColumn(), 0);
  v->addLayout(upper, 1);  // room to spare goes to the cell gauges
  v->addWidget(buildPages(), 0);
  // The port supervisor's stale mark and resume offer, above the live values.
  v->insertWidget(1, BuildLinkStaleBar(upper));
  setCentralWidget(central);
  setStatusBar(Named(new PanelStatusBar({190, 190, 250, 200}), "StatusBarView"));
  Compact(this);
  // Sized while every tab page is still shown, so that the window keeps its
  // size when an edition reveals more pages.
  ensurePolished();
  resize(minimumSizeHint().expandedTo(QSize(1280, 690)));
}

QWidget* MainWindow::buildTopBar() {
  auto* run = Button("SpdBtnRUN", 110);
  QFont f = run->font();
  f.setBold(true);
  f.setPointSizeF(f.pointSizeF() * 1.25);
  run->setFont(f);
  run->setMinimumHeight(34);
  auto* exit = Button("SpdBtnExit", 90);
  exit->setMinimumHeight(34);
  auto* configure = Button("SpdBtnConfigure", 110);
  configure->setMinimumHeight(34);
  auto* bus = Button("SpdBtnBusHunt", 100);
  auto* upgrade = Button("SpdBtnUpgrade", 100);
  auto* row = Row({run, exit, configure, bus, upgrade, nullptr, Text(QStringLiteral("TX")), LampOf("Shape_TX", 18, QStringLiteral(" TX ")), Text(QStringLiteral("  RX")),
                   LampOf("Shape_RX", 18, QStringLiteral(" RX"))},
                  8);
  return Wrap(row);
}

QWidget* MainWindow::buildCellVoltages() {
  auto* group = Group(QStringLiteral(" Cell Voltage ( mV ) "));
  auto* v = new QVBoxLayout(group);
  v->setSpacing(6);
  auto* cells = new QHBoxLayout;
  cells->setSpacing(4);
  for (int i = 1; i <= 14; ++i) {
    auto* cell = NamedGroup(N("GroupBoxVCell", i).constData());
    cell->setAlignment(Qt::AlignHCenter);
    auto* cv = new QVBoxLayout(cell);
    cv->setContentsMargins(2, 2, 2, 3);
    cv->setSpacing(4);
    auto* gauge = Gauge(N("CGaugeVCell", i).constData(), Qt::Vertical);
    gauge->setRange(0, 5000);
    gauge->setScaleMarks({0, 3000, 4200, 5000});
    gauge->setMinimumHeight(128);
    cv->addWidget(gauge, 1, Qt::AlignHCenter);
    cv->addWidget(Edit(N("EditVCell", i).constData(), kCellEditWidth, EditRole::Display, Qt::AlignCenter), 0, Qt::AlignHCenter);
    cells->addWidget(cell);
  }
  cells->addStretch(1);
  v->addLayout(cells, 1);
  auto* stats = Row({Text(QStringLiteral("Max")), Edit("Edit_HVlot", kValueWidth), Text(QStringLiteral("   Min")), Edit("Edit_LVolt", kValueWidth),
                     Text(QStringLiteral("   Balance")), Edit("Edit_VoltDiff", kValueWidth), nullptr});
  v->addLayout(stats);
  return group;
}

QWidget* MainWindow::buildBatteryStatus() {
  auto* status = Group(QStringLiteral(" Battery status "));
  auto* row = new QHBoxLayout(status);
  row->setSpacing(6);
  for (const char* flag : {"EditOVF", "EditUVF", "EditOCF", "EditSCF", "EditOTF", "EditUTF"}) row->addWidget(Edit(flag, 0, EditRole::Display, Qt::AlignCenter), 1);
  return status;
}

QWidget* MainWindow::buildRightColumn() {
  auto* col = new QWidget;
  auto* v = new QVBoxLayout(col);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(6);

  auto* temps = Group(QStringLiteral(" T °C "));
  auto* tg = GridIn(temps);
  auto* g1 = Gauge("CGaugeT1", Qt::Horizontal);
  auto* g2 = Gauge("CGaugeT2", Qt::Horizontal);
  for (BarGauge* g : {g1, g2}) {
    g->setRange(-42, 100);
    g->setScaleMarks({-40, 0, 50, 100});
    g->setFillColor(QColor(0xe0, 0x7b, 0x39));
  }
  AddValueRow(tg, 0, QStringLiteral("T1"), Edit("EditT1", 60));
  tg->addWidget(g1, 0, 2);
  AddValueRow(tg, 1, QStringLiteral("T2"), Edit("EditT2", 60));
  tg->addWidget(g2, 1, 2);
  AddValueRow(tg, 2, QStringLiteral("T3"), Edit("EditT3", 60));
  tg->setColumnStretch(2, 1);
  v->addWidget(temps);

  auto* info = Group(QStringLiteral(" Battery Informatiom  1 "));
  auto* ig = GridIn(info);
  AddValueRow(ig, 0, QStringLiteral("Cycle Count"), Edit("EditCycleCnt", kValueWidth));
  AddValueRow(ig, 1, QStringLiteral("Remaining Capacity"), Edit("EditRC", kValueWidth), QStringLiteral("mAh"));
  AddValueRow(ig, 2, QStringLiteral("Design Capacity"), Edit("EditDC", kValueWidth), QStringLiteral("mAh"));
  AddValueRow(ig, 3, QStringLiteral("Pack Voltage"), Edit("EditPackVolt", kValueWidth), QStringLiteral("mV"));
  AddValueRow(ig, 4, QStringLiteral("Pack Current"), Edit("EditPackCurrent", kValueWidth), QStringLiteral("mA"));
  ig->setColumnStretch(3, 1);
  v->addWidget(info);
  v->addStretch(1);
  return col;
}

QWidget* MainWindow::buildPages() {
  auto* tabs = Named(new QTabWidget, "PageControl2");
  tabs->setDocumentMode(false);
  tabs->addTab(buildBatteryPage(), QString());
  tabs->addTab(buildEngPage(), QString());
  tabs->addTab(buildPqPage(), QString());
  tabs->addTab(buildXjPage(), QString());
  tabs->addTab(buildDiaPage(), QString());
  tabs->addTab(buildEepPage(), QString());
  tabs->addTab(buildXplPage(), QString());
  tabs->addTab(buildEvtPage(), QString());
  return tabs;
}

QWidget* MainWindow::buildBatteryPage() {
  QWidget* page = Page("TabSheetTQ58");
  auto* h = new QHBoxLayout(page);
  h->setSpacing(8);

  // Capacities and cell configuration.
  auto* cap = Group(QStringLiteral("Capacity"));
  auto* cg = GridIn(cap);
  AddValueRow(cg, 0, QStringLiteral("Full Charge Capacity"), Edit("EditFCC", kValueWidth + 14), QStringLiteral("mAh"));
  AddValueRow(cg, 1, QStringLiteral("Total Charge Capacity"), Edit("EditTCC", kValueWidth + 14), QStringLiteral("mAh"));
  AddValueRow(cg, 2, QStringLiteral("Cells in Series"), Edit("EditCellSeries", 50), QStringLiteral("S"));
  AddValueRow(cg, 3, QStringLiteral("Cells in Parallel"), Edit("EditCellParallel", 50), QStringLiteral("P"));
  cg->setRowStretch(4, 1);
  h->addWidget(cap, 0, Qt::AlignTop);

  // State of charge gauges.
  auto* soc = Group(QStringLiteral("State of Charge"));
  auto* sg = GridIn(soc);
  struct SocGauge {
    const char* caption;
    const char* gauge;
    const char* edit;
  };
  const SocGauge gauges[] = {{"P SOH ", "CGaugeASOC", "EditASOC"}, {"SOC", "CGaugeRSOC", "EditRSOC"}};
  for (int i = 0; i < 2; ++i) {
    auto* caption = Text(QString::fromLatin1(gauges[i].caption), Qt::AlignCenter);
    QFont f = caption->font();
    f.setBold(true);
    caption->setFont(f);
    auto* g = Gauge(gauges[i].gauge, Qt::Vertical);
    g->setRange(0, 100);
    g->setShowPercent(true);
    g->setFillColor(QColor(0x3c, 0xb3, 0x71));
    g->setMinimumSize(50, 90);
    sg->addWidget(caption, 0, i * 2, 1, 2);
    sg->addWidget(g, 1, i * 2, 1, 2, Qt::AlignHCenter);
    sg->addWidget(Edit(gauges[i].edit, 50), 2, i * 2, Qt::AlignRight);
    sg->addWidget(Text(QStringLiteral("%")), 2, i * 2 + 1);
  }
  sg->setRowStretch(1, 1);
  h->addWidget(soc);

  // Charge state, key input and firmware.
  auto* state = new QVBoxLayout;
  state->setSpacing(6);
  auto* chg = Group(QStringLiteral("Charge State"));
  auto* chgl = new QVBoxLayout(chg);
  auto* sign = Edit("EditCurrentSign", 0, EditRole::Display, Qt::AlignCenter);
  QFont sf = sign->font();
  sf.setBold(true);
  sign->setFont(sf);
  sign->setMinimumWidth(150);
  chgl->addWidget(sign);
  state->addWidget(chg);
  auto* key = Group(QStringLiteral(" Key Press "));
  auto* keyl = new QHBoxLayout(key);
  keyl->addStretch(1);
  keyl->addWidget(LampOf("ShapeKeyPress", 26, QStringLiteral("Key input")));
  keyl->addStretch(1);
  state->addWidget(key);
  auto* fw = Group(QStringLiteral("Firmware"));
  auto* fg = GridIn(fw);
  AddValueRow(fg, 0, QStringLiteral("Model"), Edit("EditFWID", 120, EditRole::Display, Qt::AlignLeft | Qt::AlignVCenter));
  AddValueRow(fg, 1, QStringLiteral("Version"), Edit("EditFWVer", 120, EditRole::Display, Qt::AlignLeft | Qt::AlignVCenter));
  state->addWidget(fw);
  state->addStretch(1);
  h->addLayout(state);

  // Last charge date, clock display, shipping mode and deep sleep.
  auto* misc = new QVBoxLayout;
  misc->setSpacing(6);
  auto* last = NamedGroup("GroupBoxLastChgDate");
  auto* ll = new QVBoxLayout(last);
  ll->addLayout(Row({Check("CheckBoxLastChgDate"), nullptr, Button("SpdBtnLastChgDateGet", 70)}));
  ll->addLayout(Row({Text(QStringLiteral("Date")), Edit("EditLastChgDate", 130, EditRole::Display, Qt::AlignLeft | Qt::AlignVCenter), Text(QStringLiteral("  SOC")),
                     Edit("EditLastChgSOC", 44), Text(QStringLiteral("%")), nullptr}));
  ll->addWidget(Progress("ProgressBarLastChgDate"));
  misc->addWidget(last);
  // Holds only the engineering clock display: no frame of its own.
  auto* rtc = NamedGroup("GroupBoxRTCDisplayOnly");
  rtc->setFlat(true);
  rtc->setStyleSheet(QStringLiteral("QGroupBox { border: none; margin-top: 0px; padding-top: 0px; }"));
  auto* rl = new QHBoxLayout(rtc);
  rl->addWidget(NamedLabel("LabelRTCENG"));
  rl->addWidget(Edit("EditRTCENG", 190, EditRole::Display, Qt::AlignLeft | Qt::AlignVCenter));
  rl->addStretch(1);
  misc->addWidget(rtc);
  misc->addWidget(Check("CheckBox_Shipping_Mode_Read_Only"));
  misc->addWidget(Button("SpdBtnLITDeepSleep", 110), 0, Qt::AlignLeft);
  misc->addStretch(1);
  h->addLayout(misc);
  h->addStretch(1);
  return page;
}

QWidget* MainWindow::buildEngPage() {
  QWidget* page = Page("TabSheetENG");
  auto* h = new QHBoxLayout(page);
  h->setSpacing(8);

  // Column 1: power and modes.
  auto* c1 = new QVBoxLayout;
  auto* power = Group(QStringLiteral("Power"));
  power->setLayout(Row({Button("SpdBtnSleep", 80), Button("SpdBtnDeepSleep", 90), nullptr}));
  c1->addWidget(power);
  auto* ship = NamedGroup("GroupBoxShippingMode");
  ship->setLayout(Row({Check("CheckBoxSippingMode"), nullptr, Button("SpdBtnShippingModeSet", 52), Button("SpdBtnShippingModeGet", 52)}));
  c1->addWidget(ship);
  auto* gw = Group(QStringLiteral("Gateway Mode"));
  gw->setLayout(Row({Check("CheckBox_GatewayMode"), nullptr, Button("SpeedButton_GatewayMode", 90)}));
  c1->addWidget(gw);
  auto* mos = Group(QStringLiteral("MOSFET SW"));
  mos->setLayout(Row({Check("CheckBox_MOSFETSW"), nullptr, Button("SpeedButton_MOSFETSW", 90)}));
  c1->addWidget(mos);
  c1->addStretch(1);
  h->addLayout(c1, 3);

  // Column 2: clock and erase.
  auto* c2 = new QVBoxLayout;
  auto* clock = Group(QStringLiteral("Clock"));
  auto* cl = new QVBoxLayout(clock);
  cl->addLayout(Row({Text(QStringLiteral("RTC Calibration")), nullptr, Button("SpdBtnRTCSet", 52), Button("SpdBtnRTCGet", 52)}));
  auto* rtc = Input("EditRTC", 0, 32);
  cl->addWidget(rtc);
  c2->addWidget(clock);
  auto* ext = Group(QStringLiteral("MCU External EEPROM"));
  auto* el = new QVBoxLayout(ext);
  el->addLayout(Row({Check("CheckBoxEEPROMErase"), nullptr, Button("SpdBtnEEPROMEraseSet", 52)}));
  el->addWidget(NamedLabel("LabelEPPEraseStatus"));
  c2->addWidget(ext);
  auto* inner = Group(QStringLiteral("MCU Internal EEPROM"));
  auto* ig = GridIn(inner);
  ig->addWidget(Text(QStringLiteral("Erase TCC ")), 0, 0);
  ig->addWidget(Button("SpdBtnEraseMCUIntTCC", 52), 0, 1);
  ig->addWidget(NamedLabel("LabelEraseTCCStatus"), 0, 2);
  ig->addWidget(Text(QStringLiteral("Erase EEP ")), 1, 0);
  ig->addWidget(Button("SpdBtnEraseMCUIntEEP", 52), 1, 1);
  ig->addWidget(NamedLabel("LabelEraseEEPStatus"), 1, 2);
  ig->setColumnStretch(2, 1);
  c2->addWidget(inner);
  c2->addStretch(1);
  h->addLayout(c2, 3);

  // Column 3: barcode and firmware.
  auto* c3 = new QVBoxLayout;
  auto* bc = Group(QStringLiteral("Barcode 32"));
  auto* bl = new QVBoxLayout(bc);
  auto* select = Named(new RadioGroupBox(nullptr, 2), "RadioGroupBarcodeSelect");
  bl->addWidget(select);
  bl->addWidget(Check("CheckBoxBarCodeAutoSet"));
  bl->addWidget(Input("EditBarCode32", 0, 32));
  bl->addLayout(Row({nullptr, Button("BitBtnBarCodeRead", 70), Button("BitBtnBarCodeWrite", 70)}));
  c3->addWidget(bc);
  auto* fw = Group(QStringLiteral("Firmware"));
  auto* fl = GridIn(fw);
  AddValueRow(fl, 0, QStringLiteral("FW Version"), Edit("Edit_ENG_FW_Version", 100, EditRole::Display, Qt::AlignLeft | Qt::AlignVCenter));
  fl->addWidget(Check("CheckBox_T1T2_Enabled"), 1, 0, 1, 2);
  fl->addWidget(Check("CheckBox_SHU_EN"), 2, 0, 1, 2);
  fl->setColumnStretch(2, 1);
  c3->addWidget(fw);
  c3->addStretch(1);
  h->addLayout(c3, 4);

  // Column 4: analog front end, parameter blocks, discharge capacity.
  auto* c4 = new QVBoxLayout;
  auto* oz = Group(QStringLiteral(" OZ EEPROM READ LIST "));
  auto* ol = new QVBoxLayout(oz);
  ol->addLayout(Row({Button("SpdBtnOZEEPRead", 70), Button("SpdBtnOZEEPSaveRef", 120), nullptr}));
  auto* ozmemo = Memo("MemoOZEEPRead");
  ozmemo->setMinimumHeight(60);
  ozmemo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);  // fills what the column leaves
  ol->addWidget(ozmemo, 1);
  c4->addWidget(oz, 1);
  auto* param = Group(QStringLiteral("Parameters"));
  param->setLayout(Row({Button("Button_EEP_Parameter", 80), nullptr}));
  c4->addWidget(param);
  auto* tdc = NamedGroup("GroupBoxTDC");
  tdc->setLayout(Row({Edit("EditTDC", kValueWidth + 14), Text(QStringLiteral("mAh")), nullptr}));
  c4->addWidget(tdc);
  h->addLayout(c4, 4);
  return page;
}

QWidget* MainWindow::buildPqPage() {
  QWidget* page = Page("TabSheetPQ");
  auto* h = new QHBoxLayout(page);
  auto* sn = Group(QStringLiteral("Pack Serial Number"));
  auto* sl = new QVBoxLayout(sn);
  sl->addLayout(Row({Text(QStringLiteral("Serial Number ")), Input("EditPDSN", 150, 64)}));
  sl->addLayout(Row({nullptr, Button("SpdBtnSNSet", 60), Button("SpdBtnSNGet", 60)}));
  sl->addStretch(1);
  h->addWidget(sn, 0, Qt::AlignTop);
  auto* prot = Group(QStringLiteral("Protection"));
  auto* pg = GridIn(prot);
  AddValueRow(pg, 0, QStringLiteral("Discharge Protection Current"), Edit("EditDsgProtectionCurrent", kValueWidth), QStringLiteral("mA"));
  AddValueRow(pg, 1, QStringLiteral("Discharge Protection Delay"), Edit("EditDsgProtectionDelay", kValueWidth), QStringLiteral("ms"));
  AddValueRow(pg, 2, QStringLiteral("Charge Protection Current"), Edit("EditChgProtectionCurrent", kValueWidth), QStringLiteral("mA"));
  AddValueRow(pg, 3, QStringLiteral("Charge Protection Delay"), Edit("EditChgProtectionDelay", kValueWidth), QStringLiteral("ms"));
  pg->setRowStretch(4, 1);
  h->addWidget(prot, 0, Qt::AlignTop);
  h->addStretch(1);
  return page;
}

QWidget* MainWindow::buildXjPage() {
  QWidget* page = Page("TabSheetXJ");
  auto* h = new QHBoxLayout(page);
  auto* mx = Group(QStringLiteral("Maximum Charge"));
  auto* g = GridIn(mx);
  AddValueRow(g, 0, QStringLiteral("Max Charge Current"), Edit("EditMaxChgCurrent", kValueWidth), QStringLiteral("mA"));
  AddValueRow(g, 1, QStringLiteral("Max Charge Counter"), Edit("EditMaxChgCounter", kValueWidth));
  AddValueRow(g, 2, QStringLiteral("Max Charge Temperature"), Edit("EditMaxChgTemperature", kValueWidth), QStringLiteral("°C"));
  AddValueRow(g, 3, QStringLiteral("Max Charge Capacity"), Edit("EditMaxChgCapacitymAh", kValueWidth), QStringLiteral("mAh"));
  g->setRowStretch(4, 1);
  h->addWidget(mx, 0, Qt::AlignTop);
  h->addStretch(1);
  return page;
}

QWidget* MainWindow::buildDiaPage() {
  QWidget* page = Page("TabSheetWX");
  auto* h = new QHBoxLayout(page);
  auto* dia = Group(QStringLiteral(" Diagnosis Report "));
  auto* dl = new QVBoxLayout(dia);
  dl->addLayout(Row({Button("BitBtnPrintReportRead", 80), Button("BitBtnPrint", 80), nullptr}));
  auto* bar = Progress("ProgressBarEEPRead");
  bar->setMinimumWidth(320);
  dl->addWidget(bar);
  dl->addStretch(1);
  h->addWidget(dia, 0, Qt::AlignTop);
  h->addStretch(1);
  return page;
}

QWidget* MainWindow::buildEepPage() {
  QWidget* page = Page("TabSheetEEP");
  auto* h = new QHBoxLayout(page);
  auto* eep = Group(QStringLiteral("EEPROM History"));
  auto* el = new QVBoxLayout(eep);
  el->addWidget(Text(QStringLiteral("Header, protection records and the first and last normal records of the pack.")));
  el->addLayout(Row({Button("BitBtnSafeInfoRead", 110), nullptr}));
  el->addStretch(1);
  h->addWidget(eep, 0, Qt::AlignTop);
  h->addStretch(1);
  return page;
}

QWidget* MainWindow::buildXplPage() {
  QWidget* page = Page("TabSheetXPL");
  auto* h = new QHBoxLayout(page);
  h->setSpacing(8);

  auto* c1 = new QVBoxLayout;
  auto* log = Group(QStringLiteral("Data Log"));
  auto* lg = GridIn(log);
  lg->addWidget(Text(QStringLiteral("Write Log Barcode")), 0, 0);
  lg->addWidget(Input("EditWriteLogBarcode", 200, 32), 0, 1, 1, 2);
  lg->addWidget(Text(QStringLiteral("Log Record Delay")), 1, 0);
  auto* spin = Named(new QSpinBox, "CSpinEditRecordDelay");
  spin->setFixedWidth(80);
  lg->addWidget(spin, 1, 1);
  lg->addWidget(Text(QStringLiteral("sec  ")), 1, 2);
  lg->setColumnStretch(2, 1);
  c1->addWidget(log);
  auto* fw = Group(QStringLiteral("Firmware Data"));
  fw->setLayout(Row({Button("BitBtnFWDataRead", 80), nullptr}));
  c1->addWidget(fw);
  c1->addStretch(1);
  h->addLayout(c1);

  auto* raw = Group(QStringLiteral("VCell No Adjust"));
  auto* rg = GridIn(raw);
  rg->addWidget(Check("CheckBoxVCellNoAdjust"), 0, 0, 1, 4);
  for (int i = 1; i <= 14; ++i) {
    const int r = 1 + (i - 1) % 7;
    const int c = (i - 1) / 7 * 2;
    rg->addWidget(Text(QStringLiteral("Cell %1").arg(i)), r, c);
    rg->addWidget(Edit(N("EditVCell", i, "NoAdjust").constData(), 60), r, c + 1);
  }
  rg->addWidget(Text(QStringLiteral("Max")), 1, 4);
  rg->addWidget(Edit("EditVCellMaxNoAdjust", 60), 1, 5);
  rg->addWidget(Text(QStringLiteral("Min")), 2, 4);
  rg->addWidget(Edit("EditVCellMinNoAdjust", 60), 2, 5);
  rg->addWidget(Text(QStringLiteral("Balance")), 3, 4);
  rg->addWidget(Edit("EditVCellBalanceNoAdjust", 60), 3, 5);
  rg->addWidget(Text(QStringLiteral("mV")), 4, 4);
  h->addWidget(raw);

  auto* res = Group(QStringLiteral("Cell R Adjust"));
  auto* cg = GridIn(res);
  cg->setVerticalSpacing(2);
  for (int i = 1; i <= 13; ++i) {
    const int r = (i - 1) % 7;
    const int c = (i - 1) / 7 * 4;
    cg->addWidget(Text(QStringLiteral("R%1").arg(i)), r, c);
    cg->addWidget(Input(N("EditCellR", i).constData(), 52, 4), r, c + 1);
    cg->addWidget(Text(QStringLiteral("mOhm")), r, c + 2);
    cg->addWidget(Check(N("CheckBoxCellR", i, "RW").constData()), r, c + 3);
  }
  // The 14th entry no operation uses.
  cg->addWidget(Input("EditCellR14", 52, 4), 6, 5);
  cg->addWidget(Check("CheckBox1"), 6, 7);

  auto* buttons = new QVBoxLayout;
  for (const char* b : {"BitBtnRCellmOmhAdjust", "BitBtnWCellmOmhAdjust", "BitBtnCellRPrarmLoad", "BitBtnRWAll", "BitBtnRWCancel"}) buttons->addWidget(Button(b, 70));
  buttons->addWidget(Check("CheckBoxCellRAllRead"));
  buttons->addWidget(Check("CheckBoxCellRAllWrite"));
  buttons->addStretch(1);
  cg->addLayout(buttons, 0, 8, 7, 1);
  h->addWidget(res);
  h->addStretch(1);
  return page;
}

QWidget* MainWindow::buildEvtPage() {
  QWidget* page = Page("TabSheetEVT");
  auto* h = new QHBoxLayout(page);
  h->setSpacing(8);

  auto* c1 = new QVBoxLayout;
  auto* plan = Group(QStringLiteral("Test Plan"));
  plan->setLayout(Row({Button("BitBtn_PCM", 60, "PCM"), Input("Edit_PCM_INI", 0)}));
  c1->addWidget(plan);
  auto* pack = Group(QStringLiteral("Pack"));
  auto* pg = GridIn(pack);
  AddValueRow(pg, 0, QStringLiteral("工單號碼"), Input("EditEVTWorkNumber", 180, 32));
  AddValueRow(pg, 1, QStringLiteral("Barcode"), Input("EditEVTBarcode", 180, 32));
  AddValueRow(pg, 2, QStringLiteral("待測數量"), Input("EditEVTDevTestNumberInput", 70, 5));
  AddValueRow(pg, 3, QStringLiteral("環境溫度"), Input("EditEVTT1", 50, 3), QStringLiteral("℃ "));
  c1->addWidget(pack);
  c1->addStretch(1);
  h->addLayout(c1);

  auto* c2 = new QVBoxLayout;
  auto* count = Group(QStringLiteral("Counters"));
  auto* cg = GridIn(count);
  AddValueRow(cg, 0, QStringLiteral("待測數量"), Edit("EditEVTDevTestNumber", 70));
  AddValueRow(cg, 1, QStringLiteral("測試PASS數量"), Edit("EditEVTDevTestPassNumber", 70));
  AddValueRow(cg, 2, QStringLiteral("測試NG數量"), Edit("EditEVTDevTestNGNumber", 70));
  AddValueRow(cg, 3, QStringLiteral("總測試次數"), Edit("EditEVTDevTestTotalNumber", 70));
  c2->addWidget(count);
  auto* result = Group(QStringLiteral("Test Result"));
  auto* rl = new QVBoxLayout(result);
  auto* panel = NamedLabel("PanelTestResult");
  panel->setText(QStringLiteral("none"));
  panel->setAlignment(Qt::AlignCenter);
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setMinimumHeight(48);
  QFont pf = panel->font();
  pf.setPointSize(20);
  pf.setBold(true);
  panel->setFont(pf);
  rl->addWidget(panel);
  rl->addLayout(Row({Button("SpdBtnEVTTest", 70), Button("BitBtnEVTEEPRead", 80), Button("BitBtnEVTDIARead", 80)}));
  c2->addWidget(result);
  c2->addStretch(1);
  h->addLayout(c2);

  auto* memo = Memo("MemoLog");
  memo->setPlainText(QStringLiteral("測試項目顯示區"));
  memo->setMinimumWidth(360);
  memo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
  h->addWidget(memo, 1);
  return page;
}

}  // namespace bms::qt
