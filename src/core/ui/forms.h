#pragma once
// The windows of the tool as view-models: every control by its documented
// name. Generated lists are kept in one place so the Qt layer can bind by name.
// Design-time states (captions, ranges, initial enabled/visible) are set in
// forms.cpp.
#include <memory>
#include <vector>

#include "core/ui/control.h"

namespace bms {

ControlKind KindFromName(std::string_view name);

#define BMS_TFORMMAIN_CONTROLS(X)     \
  X(SpdBtnRUN)                        \
  X(SpdBtnExit)                       \
  X(SpdBtnConfigure)                  \
  X(SpdBtnBusHunt)                    \
  X(SpdBtnUpgrade)                    \
  X(Shape_TX)                         \
  X(Shape_RX)                         \
  X(StatusBarView)                    \
  X(PageControl2)                     \
  X(TabSheetTQ58)                     \
  X(TabSheetENG)                      \
  X(TabSheetPQ)                       \
  X(TabSheetXJ)                       \
  X(TabSheetWX)                       \
  X(TabSheetEEP)                      \
  X(TabSheetXPL)                      \
  X(TabSheetEVT)                      \
  X(Edit_HVlot)                       \
  X(Edit_LVolt)                       \
  X(Edit_VoltDiff)                    \
  X(EditOVF)                          \
  X(EditUVF)                          \
  X(EditOCF)                          \
  X(EditSCF)                          \
  X(EditOTF)                          \
  X(EditUTF)                          \
  X(EditT1)                           \
  X(EditT2)                           \
  X(EditT3)                           \
  X(CGaugeT1)                         \
  X(CGaugeT2)                         \
  X(Edit1)                            \
  X(Edit2)                            \
  X(EditCycleCnt)                     \
  X(EditRC)                           \
  X(EditDC)                           \
  X(EditFCC)                          \
  X(EditTCC)                          \
  X(EditPackVolt)                     \
  X(EditPackCurrent)                  \
  X(EditASOC)                         \
  X(EditRSOC)                         \
  X(CGaugeASOC)                       \
  X(CGaugeRSOC)                       \
  X(EditCurrentSign)                  \
  X(ShapeKeyPress)                    \
  X(EditFWID)                         \
  X(EditFWVer)                        \
  X(EditCellSeries)                   \
  X(EditCellParallel)                 \
  X(EditPDSN)                         \
  X(EditLastChgDate)                  \
  X(EditLastChgSOC)                   \
  X(ProgressBarLastChgDate)           \
  X(CheckBoxLastChgDate)              \
  X(SpdBtnLastChgDateGet)             \
  X(GroupBoxLastChgDate)              \
  X(GroupBoxRTCDisplayOnly)           \
  X(EditRTCENG)                       \
  X(LabelRTCENG)                      \
  X(CheckBox_Shipping_Mode_Read_Only) \
  X(SpdBtnLITDeepSleep)               \
  X(EditMaxChgCurrent)                \
  X(EditMaxChgCounter)                \
  X(EditMaxChgTemperature)            \
  X(EditMaxChgCapacitymAh)            \
  X(EditDsgProtectionCurrent)         \
  X(EditDsgProtectionDelay)           \
  X(EditChgProtectionCurrent)         \
  X(EditChgProtectionDelay)           \
  X(SpdBtnSNSet)                      \
  X(SpdBtnSNGet)                      \
  X(SpdBtnSleep)                      \
  X(SpdBtnDeepSleep)                  \
  X(GroupBoxShippingMode)             \
  X(CheckBoxSippingMode)              \
  X(SpdBtnShippingModeSet)            \
  X(SpdBtnShippingModeGet)            \
  X(CheckBox_GatewayMode)             \
  X(SpeedButton_GatewayMode)          \
  X(CheckBox_MOSFETSW)                \
  X(SpeedButton_MOSFETSW)             \
  X(SpdBtnRTCSet)                     \
  X(SpdBtnRTCGet)                     \
  X(EditRTC)                          \
  X(SpdBtnEEPROMEraseSet)             \
  X(CheckBoxEEPROMErase)              \
  X(LabelEPPEraseStatus)              \
  X(SpdBtnEraseMCUIntTCC)             \
  X(SpdBtnEraseMCUIntEEP)             \
  X(LabelEraseTCCStatus)              \
  X(LabelEraseEEPStatus)              \
  X(RadioGroupBarcodeSelect)          \
  X(CheckBoxBarCodeAutoSet)           \
  X(EditBarCode32)                    \
  X(BitBtnBarCodeRead)                \
  X(BitBtnBarCodeWrite)               \
  X(Edit_ENG_FW_Version)              \
  X(CheckBox_T1T2_Enabled)            \
  X(CheckBox_SHU_EN)                  \
  X(GroupBoxTDC)                      \
  X(EditTDC)                          \
  X(BitBtnRWAll)                      \
  X(BitBtnRWCancel)                   \
  X(CheckBoxCellRAllWrite)            \
  X(CheckBoxCellRAllRead)             \
  X(BitBtnCellRPrarmLoad)             \
  X(BitBtnRCellmOmhAdjust)            \
  X(BitBtnWCellmOmhAdjust)            \
  X(BitBtnFWDataRead)                 \
  X(SpdBtnOZEEPRead)                  \
  X(MemoOZEEPRead)                    \
  X(SpdBtnOZEEPSaveRef)               \
  X(EditCellR14)                      \
  X(CheckBox1)                        \
  X(Button_EEP_Parameter)             \
  X(EditWriteLogBarcode)              \
  X(CSpinEditRecordDelay)             \
  X(TimerRecordDelayCnt)              \
  X(CheckBoxVCellNoAdjust)            \
  X(EditVCellMaxNoAdjust)             \
  X(EditVCellMinNoAdjust)             \
  X(EditVCellBalanceNoAdjust)         \
  X(BitBtnSafeInfoRead)               \
  X(BitBtnPrintReportRead)            \
  X(BitBtnPrint)                      \
  X(ProgressBarEEPRead)               \
  X(SpdBtnEVTTest)                    \
  X(BitBtnEVTEEPRead)                 \
  X(BitBtnEVTDIARead)                 \
  X(EditEVTBarcode)                   \
  X(OpenDialog_PCM_INI)               \
  X(EditVCell1)                       \
  X(EditVCell2)                       \
  X(EditVCell3)                       \
  X(EditVCell4)                       \
  X(EditVCell5)                       \
  X(EditVCell6)                       \
  X(EditVCell7)                       \
  X(EditVCell8)                       \
  X(EditVCell9)                       \
  X(EditVCell10)                      \
  X(EditVCell11)                      \
  X(EditVCell12)                      \
  X(EditVCell13)                      \
  X(EditVCell14)                      \
  X(CGaugeVCell1)                     \
  X(CGaugeVCell2)                     \
  X(CGaugeVCell3)                     \
  X(CGaugeVCell4)                     \
  X(CGaugeVCell5)                     \
  X(CGaugeVCell6)                     \
  X(CGaugeVCell7)                     \
  X(CGaugeVCell8)                     \
  X(CGaugeVCell9)                     \
  X(CGaugeVCell10)                    \
  X(CGaugeVCell11)                    \
  X(CGaugeVCell12)                    \
  X(CGaugeVCell13)                    \
  X(CGaugeVCell14)                    \
  X(GroupBoxVCell1)                   \
  X(GroupBoxVCell2)                   \
  X(GroupBoxVCell3)                   \
  X(GroupBoxVCell4)                   \
  X(GroupBoxVCell5)                   \
  X(GroupBoxVCell6)                   \
  X(GroupBoxVCell7)                   \
  X(GroupBoxVCell8)                   \
  X(GroupBoxVCell9)                   \
  X(GroupBoxVCell10)                  \
  X(GroupBoxVCell11)                  \
  X(GroupBoxVCell12)                  \
  X(GroupBoxVCell13)                  \
  X(GroupBoxVCell14)                  \
  X(EditCellR1)                       \
  X(EditCellR2)                       \
  X(EditCellR3)                       \
  X(EditCellR4)                       \
  X(EditCellR5)                       \
  X(EditCellR6)                       \
  X(EditCellR7)                       \
  X(EditCellR8)                       \
  X(EditCellR9)                       \
  X(EditCellR10)                      \
  X(EditCellR11)                      \
  X(EditCellR12)                      \
  X(EditCellR13)                      \
  X(CheckBoxCellR1RW)                 \
  X(CheckBoxCellR2RW)                 \
  X(CheckBoxCellR3RW)                 \
  X(CheckBoxCellR4RW)                 \
  X(CheckBoxCellR5RW)                 \
  X(CheckBoxCellR6RW)                 \
  X(CheckBoxCellR7RW)                 \
  X(CheckBoxCellR8RW)                 \
  X(CheckBoxCellR9RW)                 \
  X(CheckBoxCellR10RW)                \
  X(CheckBoxCellR11RW)                \
  X(CheckBoxCellR12RW)                \
  X(CheckBoxCellR13RW)                \
  X(EditVCell1NoAdjust)               \
  X(EditVCell2NoAdjust)               \
  X(EditVCell3NoAdjust)               \
  X(EditVCell4NoAdjust)               \
  X(EditVCell5NoAdjust)               \
  X(EditVCell6NoAdjust)               \
  X(EditVCell7NoAdjust)               \
  X(EditVCell8NoAdjust)               \
  X(EditVCell9NoAdjust)               \
  X(EditVCell10NoAdjust)              \
  X(EditVCell11NoAdjust)              \
  X(EditVCell12NoAdjust)              \
  X(EditVCell13NoAdjust)              \
  X(EditVCell14NoAdjust)              \
  X(EditEVTWorkNumber)                \
  X(EditEVTDevTestNumberInput)        \
  X(EditEVTT1)                        \
  X(EditEVTDevTestNumber)             \
  X(EditEVTDevTestPassNumber)         \
  X(EditEVTDevTestNGNumber)           \
  X(EditEVTDevTestTotalNumber)        \
  X(PanelTestResult)                  \
  X(MemoLog)                          \
  X(Edit_PCM_INI)                     \
  X(BitBtn_PCM)                       \
  X(Timer_EVT_Balance_Check)

#define BMS_TFORMCONFIG_CONTROLS(X) \
  X(Label1)                         \
  X(CobBoxInterfaceName)            \
  X(SpdBtnSCAN)                     \
  X(CGaugeProgress)                 \
  X(LbInterfaceName)                \
  X(SpdBtnYES)                      \
  X(SpdBtnCANCEL)                   \
  X(CheckBoxLogFileSave)            \
  X(Label2)                         \
  X(Label3)                         \
  X(ComboBoxBaudRate)

#define BMS_TFORMEEPROM_CONTROLS(X) \
  X(BitBtnEEPBlockChoiceRead)       \
  X(BitBtnEEPRange)                 \
  X(BitBtnEEPPreView)               \
  X(MemoEEPHeader)                  \
  X(MemoEEPProtect)                 \
  X(MemoEEPNormalLEAD)              \
  X(MemoEEPNormalLAST)              \
  X(PageControlEEP)                 \
  X(TabSheetHeader)                 \
  X(TabSheetProtection)             \
  X(TabSheetLEAD)                   \
  X(TabSheet1)                      \
  X(GroupBoxEEPRangeRead)           \
  X(ComboBoxEEPStartAddrRead)       \
  X(ComboBoxEEPEndAddrRead)         \
  X(BitBtnClean)                    \
  X(BitBtnEEPBlockProtectRead)      \
  X(BitBtnEEPClean)                 \
  X(CGaugeEEPROMread)               \
  X(CheckBoxEEPFastRead)            \
  X(ProgressBarEEPBlockRead)        \
  X(LabelEEPProgress)               \
  X(BitBtnEEPCancel)                \
  X(LabelEEPExportFile)

#define BMS_TFORMDIAGNOSISREPORT_CONTROLS(X) \
  X(Label_FstFullChgDate)                    \
  X(Label_DateNow)                           \
  X(Label_ReadOutDate)                       \
  X(Label_ReadOutTime)                       \
  X(Label_ModelName)                         \
  X(Label_DC)                                \
  X(Label_CellCfg)                           \
  X(Label_CycleCnt)                          \
  X(Label_PSOC)                              \
  X(Label_ChgDsgCurrentmA)                   \
  X(Label_PackVoltage)                       \
  X(Label_FCC)                               \
  X(Label_T1)                                \
  X(Label_ProtectFlag)                       \
  X(Label_MaxCellVolt)                       \
  X(Label_MinCellVolt)                       \
  X(Label_CellImbalance)                     \
  X(Label_CellType)                          \
  X(Label_TotalChgEvtCnt)                    \
  X(Label_TotalWarrantyCnt)                  \
  X(Label_TotalDsgEvtCnt)                    \
  X(Label_ReportTotalCC)                     \
  X(Label_MaxCghCurrent)                     \
  X(Label_MaxChgVoltage)                     \
  X(Label_WarrantyCycle)                     \
  X(Label_MaxDsgCurrentA)                    \
  X(Label_PulseDsgCurrentA)                  \
  X(Label_PulseDsgDurationSec)               \
  X(Label_MFTName)                           \
  X(Label_Barcode)                           \
  X(Label_MftDate)                           \
  X(Label_ExpDate)                           \
  X(Label_LastChgDate)                       \
  X(Label_LastChgSOC)                        \
  X(Label_LastFullChgDate)                   \
  X(Label_FstDsgDepletionDate)               \
  X(Label_LastDsgDepletionDate)              \
  X(Label_MaxChgLowSOCsinceDate)             \
  X(Label_ExtDsgRecAtDate)                   \
  X(Label_MaxDurationLowSOC0Hours)           \
  X(Label_SOC0ChgCap)                        \
  X(BitBtnReportSavePdf)

#define BMS_TPAGESDLGFWDATA_CONTROLS(X) \
  X(EditCOTEvent)                       \
  X(EditCOTRelease)                     \
  X(EditCOTEvtDly)                      \
  X(EditCOTRlsDly)                      \
  X(EditCUTEvent)                       \
  X(EditCUTRelease)                     \
  X(EditCUTEvtDly)                      \
  X(EditCUTRlsDly)                      \
  X(EditDOTEvent)                       \
  X(EditDOTRelease)                     \
  X(EditDOTEvtDly)                      \
  X(EditDOTRlsDly)                      \
  X(EditDUTEvent)                       \
  X(EditDUTRelease)                     \
  X(EditDUTEvtDly)                      \
  X(EditDUTRlsDly)                      \
  X(EditCOCEvent)                       \
  X(EditCOCRelease)                     \
  X(EditCOCEvtDly)                      \
  X(EditCOCRlsDly)                      \
  X(EditDOCEvent)                       \
  X(EditDOCRelease)                     \
  X(EditDOCEvtDly)                      \
  X(EditDOCRlsDly)                      \
  X(EditSWOVSet)                        \
  X(EditSWOVClear)                      \
  X(EditSWOVDelay)                      \
  X(EditSWOVRelease)                    \
  X(EditSWUVSet)                        \
  X(EditSWUVClear)                      \
  X(EditSWUVDelay)                      \
  X(EditSWUVRelease)

// The dialog's frame: tabs, its four buttons, groups and status line.
#define BMS_TPAGESDLGFWDATA_FRAME_CONTROLS(X) \
  X(PageControlFW)                            \
  X(TabSheetFWParameter)                      \
  X(TabSheetsocv)                             \
  X(BitBtnFWDataRead)                         \
  X(BitBtnFWDataWrite)                        \
  X(BitBtnFWDataLoad)                         \
  X(BitBtnClean)                              \
  X(GroupBoxFWProtect)                        \
  X(GroupBoxOVUV)                             \
  X(GroupBoxSOCVTable)                        \
  X(LabelSOCVUnit)                            \
  X(LabelFWDataStatus)

#define BMS_TFORM_ENG_PASSWORD_CONTROLS(X) \
  X(Label_Password)                        \
  X(Edit_ENG_Password)                     \
  X(BitBtn_Yes)                            \
  X(BitBtn_No)

// The fixed controls of the EEP2 window; its value edits and their check
// boxes come from the window's table (core/parameters/eep2_table.h).
#define BMS_TFORM_EEP_PARAMETER_CONTROLS(X) \
  X(PageControl_EEP_Parameter)              \
  X(TabSheet_Block_A)                       \
  X(TabSheet_Block_C)                       \
  X(TabSheet1_Block_D)                      \
  X(PageControl_Block_C)                    \
  X(TabSheet_Block_B_P1)                    \
  X(TabSheet_Block_P2)                      \
  X(BitBtn_Block_C_Write)                   \
  X(BitBtn_Block_C_Read)                    \
  X(BitBtn_Block_SAVE_File)                 \
  X(BitBtn_Block_Read_File)                 \
  X(GroupBox2)                              \
  X(GroupBox1)                              \
  X(BitBtn_Read_SOC_File)                   \
  X(Edit_SOC_File)                          \
  X(BitBtn_Block_D_Write)                   \
  X(BitBtn_Block_D_Read)                    \
  X(OpenDialog_SOC_Table_File)

#define BMS_DECLARE_CONTROL(n) Control n{*this, #n, KindFromName(#n)};

class TFormMain : public Form {
 public:
  TFormMain(std::mutex& lock, UiEventSink*& sink);
  BMS_TFORMMAIN_CONTROLS(BMS_DECLARE_CONTROL)
  // The port supervisor: the stale mark of the live values and the resume offer.
  BMS_DECLARE_CONTROL(LabelLinkStale)
  BMS_DECLARE_CONTROL(BitBtnLinkResume)
  // Numbered controls, index 1..14 (13 for resistances); index 0 unused.
  Control* EditVCellN[15] = {};
  Control* CGaugeVCellN[15] = {};
  Control* GroupBoxVCellN[15] = {};
  Control* EditVCellNoAdjustN[15] = {};
  Control* EditCellRN[14] = {};
  Control* CheckBoxCellRRWN[14] = {};
};

class TFormConfig : public Form {
 public:
  TFormConfig(std::mutex& lock, UiEventSink*& sink);
  BMS_TFORMCONFIG_CONTROLS(BMS_DECLARE_CONTROL)
  // What the selected port is and whether this user may open it.
  BMS_DECLARE_CONTROL(LabelPortDetails)
};

class TFormEEPROM : public Form {
 public:
  TFormEEPROM(std::mutex& lock, UiEventSink*& sink);
  BMS_TFORMEEPROM_CONTROLS(BMS_DECLARE_CONTROL)
};

class TFormDiagnosisReport : public Form {
 public:
  TFormDiagnosisReport(std::mutex& lock, UiEventSink*& sink);
  BMS_TFORMDIAGNOSISREPORT_CONTROLS(BMS_DECLARE_CONTROL)
};

class TPagesDlgFWData : public Form {
 public:
  TPagesDlgFWData(std::mutex& lock, UiEventSink*& sink);
  BMS_TPAGESDLGFWDATA_CONTROLS(BMS_DECLARE_CONTROL)
  BMS_TPAGESDLGFWDATA_FRAME_CONTROLS(BMS_DECLARE_CONTROL)
  // The SOC-OCV edits EditSOCV1..EditSOCV101, index 1..101; index 0 unused.
  Control* EditSOCVN[102] = {};

 private:
  std::vector<std::unique_ptr<Control>> socv_edits_;
};

class TForm_ENG_Password : public Form {
 public:
  TForm_ENG_Password(std::mutex& lock, UiEventSink*& sink);
  BMS_TFORM_ENG_PASSWORD_CONTROLS(BMS_DECLARE_CONTROL)
};

class TForm_EEP_PARAMETER : public Form {
 public:
  TForm_EEP_PARAMETER(std::mutex& lock, UiEventSink*& sink);
  BMS_TFORM_EEP_PARAMETER_CONTROLS(BMS_DECLARE_CONTROL)
  // The value edits of each block in register order (the table's order),
  // the check box beside each, and the SOC edits by percent.
  std::vector<Control*> BlockCEdits, BlockDEdits, BlockCChecks, BlockDChecks;
  Control* EditSOC[101] = {};

 private:
  std::vector<std::unique_ptr<Control>> table_controls_;
};

}  // namespace bms
