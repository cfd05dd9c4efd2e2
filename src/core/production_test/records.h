#pragma once
// The two records of the production test: the plan's sequence switches and
// run counters (EvtTestSet) and the plan's limits, test switches and the
// failure list of the last run (EvtTest). Both live in the Context.
#include <cstdint>
#include <string>
#include <vector>

namespace bms {

// Slots of the failure list; slot 0 is never used, so 1023 entries fit.
inline constexpr int kFailureSlots = 1024;

struct EvtTestSet {
  int32_t DevTestNumber = 0;
  int32_t BarcodeMode = -1;      // as loaded; the run uses CurrentBarcodeMode
  int32_t DevTestRemaining = 0;  // packs still to test
  int32_t PassCount = 0;         // passed packs
  int32_t FailCount = 0;         // failed packs
  int32_t TotalCount = 0;        // packs tested
  int32_t DevTestInput = 0;      // packs to test as entered
  int32_t LogRecordCnt = 0, TestRepeatCnt = 0, Sleep_or_DeepSleepStatusWrite = -1, Sleep_or_DeepSleep_Status_AfterEndTest = -1;
  uint8_t EraseMCUIntTCCWrite = 0, EraseMCUIntEEPWrite = 0, EEPEraseWrite = 0, BarcodeWrite = 0, RTCWrite = 0, ShippingModeWrite = 0, SleepModeWrite = 0;
  int32_t BalanceCount = -1, BalanceDelayms = -1, DelaymsAfterDsgCurrent = -1;
  int32_t LOAD_3311D_Address = 0;
  std::string LOAD_Product_Name;
};

struct EvtTest {
  std::string BarcodeName, ProjectName, FWVer;
  int32_t RTCAccuracyRange = 0, DateTimeAccuracyRange = 0, DateTimeFirstToCheckRange = 65535, SOCMax = 0, SOCMin = 0, SOHMax = 0, SOHMin = 0, T1 = 0, T2 = 0, T1Range = 0,
          T2Range = 0, CellVoltMax = 0, CellVoltMin = 0, CellBalance = -1, PackVoltMax = 0, PackVoltMin = 0, PackCurrentMax = 0, PackCurrentMin = 0;
  uint8_t OVFlag = 0, UVFlag = 0, OCFlag = 0, SCFlag = 0, OTFlag = 0, UTFlag = 0;
  int32_t CycleCnt = 0;
  uint8_t ShippingMode = 0;
  // Failure count of the run and its entries: FailList[k] is entry k
  // (1..min(count, 1023)); entries beyond the list are counted only.
  int32_t FailCount = 0;
  std::vector<std::string> FailList = std::vector<std::string>(kFailureSlots);
  uint8_t RTCTest = 0, RTC_Test = 0, ShippingMode_Test = 0, EEPEarse_Test = 0, BarcodeRead_Test = 0, Balance_Test = 0;
  float fBtyDsgLOADCurrent = 0, fBtyOverDsgLOADCurrent = 0;
  int32_t T1T2_DsgCurrentInDeepSeep_Test = 0, BMSChgDsgCurrentMax = 0, BMSChgDsgCurrentMin = 0, DynamicBalance = -1, T1Max_Dsg = 0, T1Min_Dsg = 0, T2Max_Dsg = 0, T2Min_Dsg = 0,
          T1T2TestDelay = 0, T1Range_Dsg = 0, T2Range_Dsg = 0, T1_Rang_After_Dsg = 0, T2_Rang_After_Dsg = 0, GPIB_LOADER_Enabled = 0;
};

}  // namespace bms
