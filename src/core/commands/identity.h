#pragma once
// Identity commands: the barcode (three storages in the pack) and the
// serial number, with the barcode-mode selection kept in ENG.ini.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/context.h"

namespace bms {

inline constexpr uint16_t kRegBarcodeExt32Read = 0x6207;
inline constexpr uint16_t kRegBarcodeInt32Read = 0x200A;
inline constexpr uint16_t kRegBarcodeInt16Read = 0x2008;
inline constexpr uint16_t kRegBarcode32Write = 0x4009;
inline constexpr uint16_t kRegBarcode16Write = 0x4008;
inline constexpr uint16_t kRegSerialNumberWrite = 0x4001;
inline constexpr uint16_t kRegSerialNumberRead = 0x2001;

// Items of RadioGroupBarcodeSelect (also the values of CurrentBarcodeMode).
enum BarcodeItem : int { kBarcodeAuto = 0, kBarcodeExt32 = 1, kBarcodeInt32 = 2, kBarcodeInt16 = 3 };

inline constexpr size_t kBarcodeMaxLength = 32;
inline constexpr size_t kSerialNumberLength = 8;

// Chunk k (1-based) of a barcode as it goes on the wire: bytes 8k-7..8k of
// the text, zero past its end; nothing past byte 32 is ever sent.
void BarcodeChunk(std::string_view text, int k, uint8_t out[8]);
// The serial number as it is sent: the last 8 characters of a longer text.
std::string SerialNumberToSend(std::string_view text);

// Barcode procedures: LinkPort open, run on a worker. The text read lands in
// EditBarCode32 through the reply decoder. True on success.
bool ReadBarcodeExt32(Context& ctx);
bool ReadBarcodeInt32(Context& ctx);
bool ReadBarcodeInt16(Context& ctx);
// The read of one storage by its number (kBarcodeExt32, kBarcodeInt32,
// kBarcodeInt16); false, with nothing sent, for any other number.
bool ReadBarcodeStorage(Context& ctx, int storage);
bool WriteBarcodeExt32(Context& ctx, std::string_view text);
bool WriteBarcodeInt32(Context& ctx, std::string_view text);
bool WriteBarcodeInt16(Context& ctx, std::string_view text);
// Production test: writes EditEVTBarcode into whichever storage answers.
// 0 external 32, 1 internal 32, 2 internal 16, 255 nothing written.
uint8_t WriteBarcodeAuto(Context& ctx);

// Reads the storage selected in RadioGroupBarcodeSelect; "Auto " probes the
// three in turn and, with the auto-set box ticked, selects the one that
// answered. True when a storage was read.
// In "Auto " the Read button ends the probe at the external storage only
// when its read succeeded and the auto-set box is ticked; the polling cycle
// ends it there whenever that read succeeded.
enum class AutoProbe { ExternalWithAutoSetEnds, ExternalEnds };
bool ReadBarcodeBySelection(Context& ctx, AutoProbe probe = AutoProbe::ExternalWithAutoSetEnds);

// Operator actions.
void BitBtnBarCodeReadClick(Context& ctx);   // while RunFlag is set: only clears it
void BitBtnBarCodeWriteClick(Context& ctx);  // likewise
void RadioGroupBarcodeSelectClick(Context& ctx);
void CheckBoxBarCodeAutoSetClick(Context& ctx);
void SpdBtnSNSetClick(Context& ctx);
void SpdBtnSNGetClick(Context& ctx);

// Worker bodies (whole command on the calling thread). Results:
//   barcode read: the selected storage (or one of them in "Auto ") read
//   through and EditBarCode32 is not empty;
//   barcode write: a write of all chunks went out;
//   serial number set: the echo arrived; get: a reply was decoded.
bool BarCodeReadWorker(Context& ctx);
bool BarCodeWriteWorker(Context& ctx);
bool SNSetWorker(Context& ctx);
bool SNGetWorker(Context& ctx);

}  // namespace bms
