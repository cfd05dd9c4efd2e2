#include "core/ui/forms.h"

#include <string>

#include "core/parameters/eep2_table.h"

namespace bms {

ControlKind KindFromName(std::string_view n) {
  auto starts = [&](std::string_view p) { return n.substr(0, p.size()) == p; };
  if (starts("SpdBtn") || starts("BitBtn") || starts("SpeedButton") || starts("Button")) return ControlKind::Button;
  if (starts("Edit")) return ControlKind::Edit;
  if (starts("Label") || starts("Lb")) return ControlKind::Label;
  if (starts("CheckBox")) return ControlKind::CheckBox;
  if (starts("RadioGroup")) return ControlKind::RadioGroup;
  if (starts("ComboBox") || starts("CobBox")) return ControlKind::ComboBox;
  if (starts("CGauge")) return ControlKind::Gauge;
  if (starts("ProgressBar")) return ControlKind::ProgressBar;
  if (starts("Memo")) return ControlKind::Memo;
  if (starts("GroupBox")) return ControlKind::GroupBox;
  if (starts("TabSheet")) return ControlKind::TabSheet;
  if (starts("PageControl")) return ControlKind::PageControl;
  if (starts("Shape")) return ControlKind::Shape;
  if (starts("StatusBar")) return ControlKind::StatusBar;
  if (starts("CSpinEdit")) return ControlKind::SpinEdit;
  if (starts("Timer")) return ControlKind::Timer;
  return ControlKind::Other;
}

namespace {

void Caption(Control& c, const char* t) { c.set_text(t); }

void Button(Control& c, const char* caption, bool enabled) {
  c.set_text(caption);
  c.set_enabled(enabled);
}

}  // namespace

TFormMain::TFormMain(std::mutex& lock, UiEventSink*& sink) : Form("FormMain", lock, sink) {
  for (int i = 1; i <= 14; ++i) {
    const std::string n = std::to_string(i);
    EditVCellN[i] = &get("EditVCell" + n);
    CGaugeVCellN[i] = &get("CGaugeVCell" + n);
    GroupBoxVCellN[i] = &get("GroupBoxVCell" + n);
    EditVCellNoAdjustN[i] = &get("EditVCell" + n + "NoAdjust");
    CGaugeVCellN[i]->set_range(0, 5000);
    GroupBoxVCellN[i]->set_text(i < 10 ? "Cell " + n : "Cell" + n);
    if (i <= 13) {
      EditCellRN[i] = &get("EditCellR" + n);
      CheckBoxCellRRWN[i] = &get("CheckBoxCellR" + n + "RW");
    }
  }
  self.set_text("TQ58_LIT_");
  Caption(SpdBtnRUN, "RUN");
  SpdBtnRUN.set_font_color(kBlue);
  Caption(SpdBtnExit, "EXIT");
  Caption(SpdBtnConfigure, " Configure ");
  Caption(SpdBtnBusHunt, " Bus Hunt ");
  SpdBtnBusHunt.set_visible(false);
  Caption(SpdBtnUpgrade, " Upgrade ");
  SpdBtnUpgrade.set_visible(false);
  Shape_TX.set_color(kWhite);
  Shape_RX.set_color(kWhite);
  StatusBarView.set_items({"", "", "", ""});

  Caption(TabSheetTQ58, "Battery");
  Caption(TabSheetENG, "ENG");
  Caption(TabSheetPQ, "PQ");
  Caption(TabSheetXJ, "XJ");
  Caption(TabSheetWX, "DIA");
  Caption(TabSheetEEP, "EEP");
  Caption(TabSheetXPL, "XPL");
  Caption(TabSheetEVT, "EVT");
  PageControl2.set_items({"TabSheetTQ58", "TabSheetENG", "TabSheetPQ", "TabSheetXJ", "TabSheetWX", "TabSheetEEP", "TabSheetXPL", "TabSheetEVT"});
  PageControl2.set_item_index(0);

  CGaugeASOC.set_range(0, 100);
  CGaugeRSOC.set_range(0, 100);
  CGaugeT1.set_range(-42, 100);
  CGaugeT2.set_range(-42, 100);
  Caption(EditOVF, " Over Voltage Flag");
  Caption(EditUVF, " Under Voltage Flag");
  Caption(EditOCF, " Over Current Flag ");
  Caption(EditSCF, " Short Circuit Flag");
  Caption(EditOTF, " Over Temperature Flag ");
  Caption(EditUTF, " Under Temperature Flag ");
  for (Control* f : {&EditOVF, &EditUVF, &EditOCF, &EditSCF, &EditOTF, &EditUTF}) {
    f->set_color(kColorParent);
    f->set_font_color(kNavy);
  }
  Caption(EditCurrentSign, " - None - ");
  EditCurrentSign.set_color(kColorBtnFace);
  ShapeKeyPress.set_color(kLime);

  // Command buttons are created disabled; confirming a port unlocks them.
  Button(SpdBtnSleep, "Sleep", false);
  Button(SpdBtnDeepSleep, "Deep Sleep", false);
  Button(SpdBtnLITDeepSleep, "Deep Sleep", false);
  Button(SpdBtnShippingModeSet, "Set", false);
  Button(SpdBtnShippingModeGet, "Get", false);
  Button(SpeedButton_GatewayMode, "Set", false);
  Button(SpeedButton_MOSFETSW, "Set", false);
  Caption(CheckBox_GatewayMode, "Transparent");
  Caption(CheckBox_MOSFETSW, "ON");
  Caption(CheckBoxSippingMode, "Shipping Mode");
  Caption(CheckBox_Shipping_Mode_Read_Only, "Shipping Mode");
  CheckBox_Shipping_Mode_Read_Only.set_enabled(false);
  Button(SpdBtnRTCSet, "Set", false);
  Button(SpdBtnRTCGet, "Get", false);
  Button(SpdBtnEEPROMEraseSet, "Set", false);
  Caption(CheckBoxEEPROMErase, "Erase MCU Ext EEP     ");
  Caption(LabelEPPEraseStatus, "Erase Status");
  Button(SpdBtnEraseMCUIntTCC, "Set", false);
  Button(SpdBtnEraseMCUIntEEP, "Set", false);
  Caption(LabelEraseTCCStatus, "Status");
  Caption(LabelEraseEEPStatus, "Status");
  Button(SpdBtnLastChgDateGet, "READ", false);
  SpdBtnLastChgDateGet.set_font_color(kBlue);
  Caption(CheckBoxLastChgDate, "Last Charge Date");
  Caption(RadioGroupBarcodeSelect, " Barcode Select ");
  RadioGroupBarcodeSelect.set_items({"Auto ", "ExtBarcode32", "IntBarcode32", "IntBarcode16"});
  RadioGroupBarcodeSelect.set_item_index(0);
  Caption(CheckBoxBarCodeAutoSet, "Set ");
  Button(BitBtnBarCodeRead, "Read", false);
  Button(BitBtnBarCodeWrite, "Write", false);
  Button(SpdBtnSNSet, "Set", false);
  SpdBtnSNSet.set_visible(false);
  Button(SpdBtnSNGet, "Get", false);
  Caption(CheckBoxVCellNoAdjust, "Read Enabled");
  Caption(CheckBox_SHU_EN, "SHU EN");
  Caption(CheckBox_T1T2_Enabled, "T1/T2 Swap");
  GroupBoxTDC.set_visible(false);
  LabelRTCENG.set_visible(false);
  EditRTCENG.set_visible(false);
  CSpinEditRecordDelay.set_range(1, 3600);
  CSpinEditRecordDelay.set_text("3");
  TimerRecordDelayCnt.set_enabled(false);
  Button(BitBtnSafeInfoRead, "EEPROM", false);
  Button(BitBtnPrintReportRead, "READ", false);
  Button(BitBtnPrint, "PDF", false);
  Button(SpdBtnEVTTest, "TEST", false);
  Button(BitBtnEVTEEPRead, "EEP READ", false);
  Button(BitBtnEVTDIARead, "DIA READ", false);
  Button(SpdBtnOZEEPRead, "READ", false);
  Button(SpdBtnOZEEPSaveRef, "Save as reference", false);
  Button(Button_EEP_Parameter, "EEP2", false);
  Button(BitBtnCellRPrarmLoad, "Load", false);
  Button(BitBtnRCellmOmhAdjust, "Read", false);
  Button(BitBtnWCellmOmhAdjust, "Write", false);
  Button(BitBtnFWDataRead, "FW Data", false);
  Caption(BitBtnRWAll, "RW All");
  Caption(BitBtnRWCancel, "RW Cls");
  Caption(EditCellR14, "0");
  Caption(CheckBox1, "RW");
  GroupBoxShippingMode.set_text("Shipping Mode");
  ProgressBarEEPRead.set_range(0, 100);
  ProgressBarLastChgDate.set_range(0, 100);
  // Captions of the groups and boxes that have no other design text.
  Caption(GroupBoxLastChgDate, "Last Charge");
  Caption(GroupBoxTDC, "Total Discharge Capacity");
  Caption(LabelRTCENG, "RTC");
  for (int i = 1; i <= 13; ++i) Caption(*CheckBoxCellRRWN[i], "RW");
  Caption(CheckBoxCellRAllRead, "CellRAllRead");
  Caption(CheckBoxCellRAllWrite, "CellRAllWrite");
  CheckBoxCellRAllRead.set_visible(false);
  CheckBoxCellRAllWrite.set_visible(false);
  // The EVT tab of the production test.
  Caption(BitBtn_PCM, "PCM");
  OpenDialog_PCM_INI.set_text("*.ini");
  EditEVTDevTestNumberInput.set_text("0");
  for (Control* c : {&EditEVTDevTestNumber, &EditEVTDevTestPassNumber, &EditEVTDevTestNGNumber, &EditEVTDevTestTotalNumber}) c->set_text("0");
  Caption(PanelTestResult, "none");
  SpdBtnEVTTest.set_font_color(kBlue);
  MemoLog.set_items({"測試項目顯示區"});
  Timer_EVT_Balance_Check.set_enabled(false);
  LabelLinkStale.set_visible(false);
  Caption(BitBtnLinkResume, "Resume");
  BitBtnLinkResume.set_visible(false);
}

TFormConfig::TFormConfig(std::mutex& lock, UiEventSink*& sink) : Form("FormConfig", lock, sink) {
  self.set_text("BMS Monitor Configure");
  self.set_visible(false);
  Caption(Label1, "Interface name");
  Caption(SpdBtnSCAN, "Scan");
  CGaugeProgress.set_range(0, 255);
  Caption(LbInterfaceName, "unknow . . .");
  Button(SpdBtnYES, "Yes", false);
  Caption(SpdBtnCANCEL, "Cancel");
  SpdBtnCANCEL.set_visible(false);
  Caption(CheckBoxLogFileSave, "Log file save");
  Caption(Label2, "Baud Rate");
  Caption(Label3, "bps");
  ComboBoxBaudRate.set_items({"9600", "19200"});
  LabelPortDetails.set_text("");
}

TFormEEPROM::TFormEEPROM(std::mutex& lock, UiEventSink*& sink) : Form("FormEEPROM", lock, sink) {
  self.set_text("EEPROM Warantty informatiion");
  self.set_visible(false);
  MemoEEPHeader.set_text("EEPROM Header Block");
  MemoEEPProtect.set_text("EEPROM Protect Block");
  MemoEEPNormalLEAD.set_text("EEPROM Normal LEAD Block");
  MemoEEPNormalLAST.set_text("EEPROM Normal LAST Block");
  Caption(BitBtnEEPBlockChoiceRead, "Read");
  Caption(BitBtnEEPPreView, "PreView");
  Button(BitBtnEEPRange, "Read", false);
  // Pages, range group and the invisible design leftovers.
  Caption(TabSheetHeader, "Header");
  Caption(TabSheetProtection, "Protection");
  Caption(TabSheetLEAD, "LEAD");
  Caption(TabSheet1, "LAST");
  PageControlEEP.set_items({"TabSheetHeader", "TabSheetProtection", "TabSheetLEAD", "TabSheet1"});
  PageControlEEP.set_item_index(0);
  Caption(GroupBoxEEPRangeRead, "EPP Data Range read");
  GroupBoxEEPRangeRead.set_enabled(false);
  Caption(BitBtnClean, "Clean");
  Caption(BitBtnEEPBlockProtectRead, "Protect");
  Caption(BitBtnEEPClean, " Clean");
  for (Control* c : {&BitBtnEEPBlockProtectRead, &BitBtnEEPClean, &CGaugeEEPROMread}) c->set_visible(false);
  self.set_color(kLightGreen);
  // Fast download, progress and cancel of a block read.
  Caption(CheckBoxEEPFastRead, "Fast download");
  ProgressBarEEPBlockRead.set_range(0, 1);
  ProgressBarEEPBlockRead.set_visible(false);
  LabelEEPProgress.set_visible(false);
  Caption(BitBtnEEPCancel, "Cancel");
  BitBtnEEPCancel.set_visible(false);
}

TFormDiagnosisReport::TFormDiagnosisReport(std::mutex& lock, UiEventSink*& sink) : Form("FormDiagnosisReport", lock, sink) {
  self.set_text("Diagnosis Report");
  self.set_visible(false);
  Caption(BitBtnReportSavePdf, "Save as PDF");
}

TPagesDlgFWData::TPagesDlgFWData(std::mutex& lock, UiEventSink*& sink) : Form("PagesDlgFWData", lock, sink) {
  self.set_text("FW Data");
  self.set_visible(false);
  for (int n = 1; n <= 101; ++n) {
    socv_edits_.push_back(std::make_unique<Control>(*this, "EditSOCV" + std::to_string(n), ControlKind::Edit));
    EditSOCVN[n] = socv_edits_.back().get();
  }
  for (Control* c : controls()) c->set_text("0");
  Caption(PageControlFW, "");
  PageControlFW.set_items({"TabSheetFWParameter", "TabSheetsocv"});
  PageControlFW.set_item_index(0);
  Caption(TabSheetFWParameter, "Parameter");
  Caption(TabSheetsocv, "SOCV");
  Caption(BitBtnFWDataRead, "Read");
  Caption(BitBtnFWDataWrite, "Write");
  Caption(BitBtnFWDataLoad, "Load");
  Caption(BitBtnClean, "Clean");
  Caption(GroupBoxFWProtect, " FW Protect Parameter ");
  Caption(GroupBoxOVUV, "OV UV Read/Write");
  GroupBoxOVUV.set_enabled(false);
  Caption(GroupBoxSOCVTable, " SOC VCell Table ");
  Caption(LabelSOCVUnit, "Unit :  mV");
  Caption(LabelFWDataStatus, "");
  for (Control* c : {&EditCUTEvtDly, &EditCUTRlsDly, &EditDUTEvtDly, &EditDUTRlsDly, &EditSWUVDelay, &EditSWUVRelease}) c->set_enabled(false);
}

TForm_ENG_Password::TForm_ENG_Password(std::mutex& lock, UiEventSink*& sink) : Form("Form_ENG_Password", lock, sink) {
  self.set_text("Password");
  self.set_visible(false);
  Label_Password.set_text("Entry Password");
  Label_Password.set_font_color(kNavy);
  Caption(BitBtn_Yes, "Yes");
  Caption(BitBtn_No, "No");
}

TForm_EEP_PARAMETER::TForm_EEP_PARAMETER(std::mutex& lock, UiEventSink*& sink) : Form("Form_EEP_PARAMETER", lock, sink) {
  self.set_text("EEP Parameter");
  self.set_visible(false);
  auto add = [&](const std::vector<Eep2Field>& fields, std::vector<Control*>& edits, std::vector<Control*>& checks) {
    for (const Eep2Field& f : fields) {
      table_controls_.push_back(std::make_unique<Control>(*this, f.edit, ControlKind::Edit));
      edits.push_back(table_controls_.back().get());
      table_controls_.push_back(std::make_unique<Control>(*this, f.check, ControlKind::CheckBox));
      Control& box = *table_controls_.back();
      box.set_text(f.caption);
      box.set_checked(true);
      checks.push_back(&box);
    }
  };
  add(Eep2BlockCFields(), BlockCEdits, BlockCChecks);
  add(Eep2BlockDFields(), BlockDEdits, BlockDChecks);
  for (int k = 0; k < kSocPoints; ++k) EditSOC[k] = &get("Edit_SOC_" + std::to_string(k));
  Caption(TabSheet_Block_A, "Block A");
  TabSheet_Block_A.set_visible(false);
  Caption(TabSheet_Block_C, "Block C");
  Caption(TabSheet1_Block_D, "Block D");
  PageControl_EEP_Parameter.set_items({"TabSheet_Block_A", "TabSheet_Block_C", "TabSheet1_Block_D"});
  PageControl_EEP_Parameter.set_item_index(1);
  Caption(TabSheet_Block_B_P1, "P1");
  Caption(TabSheet_Block_P2, "P2");
  PageControl_Block_C.set_items({"TabSheet_Block_B_P1", "TabSheet_Block_P2"});
  PageControl_Block_C.set_item_index(0);
  Caption(BitBtn_Block_C_Write, "Write");
  Caption(BitBtn_Block_C_Read, "Read");
  Caption(BitBtn_Block_SAVE_File, "Save File");
  Caption(BitBtn_Block_Read_File, "Read File");
  Caption(GroupBox2, "Cell Others");
  Caption(GroupBox1, "SOC Table : mV");
  Caption(BitBtn_Read_SOC_File, "SOC");
  Caption(BitBtn_Block_D_Write, "Write");
  Caption(BitBtn_Block_D_Read, "Read");
}

}  // namespace bms
