#pragma once
// The process-wide state of the tool, in one object created by main() and by
// each test. Members keep the documented names of the system.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/history/records.h"
#include "core/link/frame_tap.h"
#include "core/link/gateway_types.h"
#include "core/link/serial_port.h"
#include "core/link/workers.h"
#include "core/monitor/live_data.h"
#include "core/parameters/parameter_state.h"
#include "core/platform/clock.h"
#include "core/platform/guarded.h"
#include "core/platform/port_details.h"
#include "core/platform/port_scan.h"
#include "core/production_test/records.h"
#include "core/ui/forms.h"
#include "core/ui/operator.h"
#include "core/ui/report_printer.h"

namespace bms {

class DataLog;
class RecordDelayTimer;
class EvtRun;
class PlotSampleQueue;
class PortSupervisor;

// Creates the port object for a port name (device path or the virtual pack).
using PortFactory = std::function<std::unique_ptr<SerialPort>(const std::string& name)>;

// One record of ReplyRecords: frame id high, frame id low, eight data bytes.
using ReplyRecord = std::array<uint8_t, 10>;

// The time of the last clock set, for the production test.
struct RtcStamp {
  int32_t Date = 0;     // yyyymmdd
  int32_t Seconds = 0;  // seconds since midnight
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

// Latest charge record found by the last-charge-date reading.
struct LatestChargeRecord {
  std::array<uint8_t, 6> date{};  // year-2000, month, day, hour, minute, second
  uint8_t soc = 0;
  std::string text;
  bool found = false;
};

// The two fixed blocks of the SHU EN handshake (see docs/design.md).
struct ShuEnableConfig {
  std::vector<uint8_t> request;      // 22 bytes sent by the host
  std::vector<uint8_t> acknowledge;  // 23 bytes expected back
};
ShuEnableConfig DefaultShuEnableConfig();

// Identity of the running executable: its file name selects the edition.
struct AppIdentity {
  std::string exe_name;          // file name without folder (after --edition)
  std::string app_folder;        // folder of the executable, trailing '/'
  std::string data_folder;       // where logs and reports go (app_folder or fallback)
  std::string data_folder_note;  // why data_folder is not the app folder, for the operator
  std::string current_dir;       // where the INI files live, trailing '/'
  int version_major = 1, version_minor = 0, version_release = 0;
  bool version_known = true;
  bool simulate = false;  // the built-in virtual pack is offered as a port
};

class Context {
 public:
  Context(Clock& clock, PortFactory factory, bool inline_workers = false);
  ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  Clock& clock;
  PortFactory port_factory;

  // ---- link (serial port, worker pattern) ----
  std::mutex link_mu;                    // guards the LinkPort pointer for cancel()
  std::unique_ptr<SerialPort> LinkPort;  // nullptr or closed object: closed
  Guarded<std::string> PortName;
  Guarded<std::string> LinkError;  // why the last open or transfer failed
  std::atomic<uint8_t> LinkBusy{0};
  std::atomic<uint8_t> RunFlag{0};
  std::atomic<uint8_t> CycleDone{0};
  std::atomic<uint8_t> LogEnabled{0};
  std::atomic<bool> LinkLost{false};       // the device vanished during this connection
  std::atomic<bool> MonitorActive{false};  // a polling worker has not finished its end sequence
  std::atomic<uint64_t> BytesReceived{0};  // every byte read from the link
  std::atomic<uint64_t> ValidReplies{0};   // replies and status blocks that passed their checks
  Workers workers;
  ShuEnableConfig ShuEnable = DefaultShuEnableConfig();
  // The live plots' queue while a plot panel listens (AttachPlotSampleQueue);
  // the polling worker pushes under plot_tap_mu, so a detach waits for it.
  std::mutex plot_tap_mu;
  PlotSampleQueue* PlotTap = nullptr;
  FrameTapPoint FrameTaps;  // every frame on the link, for the frame inspector and the trace file

  // ---- protocol records ----
  Guarded<std::array<ReplyRecord, 8>> ReplyRecords;
  Guarded<LiveData> Live;  // `LiveData`
  Guarded<HistoryState> History;
  Guarded<LatestChargeRecord> LatestCharge;
  Guarded<RtcStamp> RtcSetStamp;
  std::atomic<int> CurrentBarcodeMode{-1};
  Guarded<std::string> TestPlanFile;  // loaded test plan, empty when none
  Guarded<Oz890State> Oz890;          // OZ890 EEPROM check: reference and last result
  Guarded<ParameterState> Parameters;  // firmware data and cell-resistance transfers

  // ---- Modbus master tables (one transaction at a time) and the lines of
  // the last SOC table file read ----
  Guarded<std::array<uint8_t, 260>> ModbusReadBytes;
  Guarded<std::array<int32_t, 125>> ModbusReadWords;
  Guarded<std::array<int32_t, 127>> ModbusWriteWords;
  Guarded<std::array<std::string, 101>> SocTableLines;

  // ---- application ----
  AppIdentity app;

  // ---- windows ----
  std::mutex ui_lock;
  UiEventSink* ui_sink = nullptr;
  TFormMain FormMain{ui_lock, ui_sink};
  TFormConfig FormConfig{ui_lock, ui_sink};
  TFormEEPROM FormEEPROM{ui_lock, ui_sink};
  TFormDiagnosisReport FormDiagnosisReport{ui_lock, ui_sink};
  TPagesDlgFWData PagesDlgFWData{ui_lock, ui_sink};
  TForm_EEP_PARAMETER Form_EEP_PARAMETER{ui_lock, ui_sink};
  TForm_ENG_Password Form_ENG_Password{ui_lock, ui_sink};
  std::vector<Form*> forms() { return {&FormMain, &FormConfig, &FormEEPROM, &FormDiagnosisReport, &PagesDlgFWData, &Form_EEP_PARAMETER, &Form_ENG_Password}; }

  // ---- data log ----
  std::unique_ptr<DataLog> Log;
  std::unique_ptr<RecordDelayTimer> TimerRecordDelay;

  // ---- production test ----
  Guarded<EvtTestSet> EVT_TEST_SET;
  Guarded<EvtTest> EVT_TEST;
  std::unique_ptr<EvtRun> Evt;  // the run: log, items, balance check timer, outcome

  // The serial-device list the connection dialog scans (sysfs by default).
  std::function<std::vector<SerialDeviceEntry>()> SerialDeviceList = [] { return ListSerialDevices(); };
  // What a port is, for the connection dialog (sysfs and /dev by default).
  std::function<PortDetails(const std::string&)> PortDetailsOf = [](const std::string& path) { return ReadPortDetails(path); };

  // ---- front-end hooks ----
  // Prompts and file choices (set by the front end; tests script it).
  // Without one, OK prompts are answered Ok and Yes/No prompts No.
  OperatorInteraction* Operator = nullptr;
  // Set by the front end: ends the application (EXIT, main window closed).
  std::function<void()> QuitApplication;
  // Called by the polling loops at the end of every cycle; true when the
  // cycle completed (valid status block and its register reads ran through).
  std::function<void(bool completed)> MonitorCycleHook;
  // Shows and prints the diagnosis report (set by the front end; without
  // one the report is filled but neither shown nor printed).
  ReportPrinter* Printer = nullptr;
  // Rides out an adapter that vanishes during polling (set by a front end
  // that resumes; without one a lost link ends the run).
  PortSupervisor* Supervisor = nullptr;

  // Thread-safe: cancels a blocked read or write of the open port.
  void CancelLink();
  // Ends everything that runs: clears RunFlag, wakes sleepers, cancels the
  // port and waits (real time, bounded) for the workers. Idempotent.
  bool Shutdown(int64_t timeout_ms = 2000);
};

}  // namespace bms
