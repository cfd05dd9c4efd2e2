#pragma once
// The production test of the EVT tab: the TEST button, the run on its worker
// thread and the step groups it performs. See docs/production-test.md.
#include <string>

#include "core/context.h"
#include "core/production_test/evt_run.h"
#include "core/production_test/test_plan.h"

namespace bms {

// Texts of the EVT tab.
inline constexpr const char* kEvtEmptyInput = "  Work Number or Barcode can't empty.";
inline constexpr const char* kEvtNoPlan = " The ini file is not exist";
inline constexpr const char* kSysSrart = "  SYS : < SRART >";

// Binds the handlers of the EVT tab to their controls and the balance check
// timer to its tick.
void WireProductionTestHandlers(Context& ctx);

// Operator actions (user-interface thread).
void BitBtn_PCMClick(Context& ctx);
// Checks the input and the plan, loads it, then starts a run ("TEST") or
// asks the running one to stop ("STOP"). False when the press was refused
// (status panel 2 says why; a plan error also lands in *error).
bool SpdBtnEVTTestClick(Context& ctx, std::string* error = nullptr);
void EditEVTDevTestNumberInputChange(Context& ctx);

// The run (its own worker thread).
void RunProductionTest(Context& ctx);

// One status poll and cell-voltage read with LinkPort open; false as soon as
// RunFlag is found clear or the status block fails.
bool RefreshLiveData(Context& ctx);
// Tick of the balance check timer.
void Timer_EVT_Balance_CheckTimer(Context& ctx);

// Writes the report of the last run again (after a failed write). True when
// written; *why otherwise.
bool SaveEvtReportAgain(Context& ctx, std::string* why = nullptr);

// Step groups, performed by the run in this order.
bool RunLinkSteps(Context& ctx);  // link step and communication test
// Write steps, sleep tests, test after wake-up; false when a flag check
// found RunFlag clear (the run goes on with the end-of-test power state).
bool RunPreparationSteps(Context& ctx);
void RunMeasurementRepetitions(Context& ctx);
void RunDischargeTests(Context& ctx);
void RunLogRecordStep(Context& ctx);
void RunEndPowerState(Context& ctx);
int WriteTestDataLog(Context& ctx);
// Adds "Delay " + ms + " msec" and waits ms (a negative delay waits 0).
void WaitLogged(Context& ctx, int ms);

// The report text of the run log (code page 950, CR LF) and its file name.
std::string EvtReportBytes(const std::vector<std::string>& lines);
std::string EvtReportFileName(const std::string& barcode, const LocalTime& t, const std::string& verdict);
// The folder of the reports of one work number (sanitised).
std::string EvtReportFolder(Context& ctx, const std::string& work_number);

}  // namespace bms
