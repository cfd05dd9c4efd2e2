#pragma once
// How the main window reacts to the live values: the change handlers that
// move the gauges, the charge-direction box, the key lamp, the protection
// flag colours, the visible cell groups, and the idle texts of a reset.
#include <cstdint>

#include "core/context.h"

namespace bms {

// Texts of EditCurrentSign.
inline constexpr const char* kTextCharging = " Charging ";
inline constexpr const char* kTextDischarging = " Discharging ";
inline constexpr const char* kTextNoCurrent = " - None - ";

// Progress given to a temperature gauge when its edit is empty; the gauge
// clamps it to its minimum.
inline constexpr int kEmptyTemperatureProgress = -142;

// Binds the change handlers below as on_change of their edits.
void WireLiveDisplayHandlers(Context& ctx);

// Change handlers of the main window.
void EditVCell1Change(Context& ctx);
void EditVCell2Change(Context& ctx);
void EditVCell3Change(Context& ctx);
void EditVCell4Change(Context& ctx);
void EditVCell5Change(Context& ctx);
void EditVCell6Change(Context& ctx);
void EditVCell7Change(Context& ctx);
void EditVCell8Change(Context& ctx);
void EditVCell9Change(Context& ctx);
void EditVCell10Change(Context& ctx);
void EditVCell11Change(Context& ctx);
void EditVCell12Change(Context& ctx);
void EditVCell13Change(Context& ctx);
void EditVCell14Change(Context& ctx);
void EditASOCChange(Context& ctx);
void EditRSOCChange(Context& ctx);
void EditT1Change(Context& ctx);  // CGaugeT1 from EditT1 (bound to EditT1, EditT2, EditT3, Edit1)
void EditT2Change(Context& ctx);  // CGaugeT2 from EditT2 (bound to Edit2)

// Puts the live fields back to their idle texts (RUN, end of a logging run).
void ResetLiveDisplay(Context& ctx);

// Status block display rules.
void ShowChargeDirection(Context& ctx, uint8_t status_bits);  // bits 7 and 6
void ShowKeyPress(Context& ctx, uint8_t status_bits);         // bit 0
void ShowProtectionFlags(Context& ctx, uint8_t flags);        // bits 0..5
void ShowCellGroups(Context& ctx, uint8_t series);            // 10..14, others unchanged

}  // namespace bms
