#pragma once
// The register map: status block and register replies into LiveData and the
// texts of the display controls.
#include <cstdint>

#include "core/context.h"

namespace bms {

// Register dispatcher; data points to the eight data bytes of the reply.
void DecodeReply(Context& ctx, uint16_t address, uint16_t length, const uint8_t* data);
// Decodes a status block that passed its framing checks (96 bytes).
void DecodeStatusBlock(Context& ctx, const uint8_t* block);

}  // namespace bms
