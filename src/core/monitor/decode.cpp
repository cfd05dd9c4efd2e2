#include "core/monitor/decode.h"

namespace bms {
void DecodeReply(Context&, uint16_t, uint16_t, const uint8_t*) {}
void DecodeStatusBlock(Context&, const uint8_t*) {}
}  // namespace bms
