#pragma once
// The connection dialog: port scan, baud rate, confirmation, log switch.
#include <string>
#include <vector>

#include "core/context.h"

namespace bms {

// Scan over the serial-device list; fills the dialog and returns the number
// of entries the list had.
int ScanSerialPorts(Context& ctx);

void ConfigFormCreate(Context& ctx);
void SpdBtnSCANClick(Context& ctx);
void SpdBtnYESClick(Context& ctx);
void CheckBoxLogFileSaveClick(Context& ctx);
void FormConfigClose(Context& ctx);
void WireConnectionDialog(Context& ctx);

// Port names the scan offers, USB adapters first (the CLI's `ports`).
std::vector<std::string> ScanPortNames(Context& ctx);

}  // namespace bms
