#pragma once
// Plain records of the I2C gateway and the OZ890 check, kept in the Context.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bms {

inline constexpr size_t kOz890Registers = 128;

// The verdict on the bytes read back for one request.
enum class GatewayReply {
  Valid,
  NoReply,    // nothing arrived
  Short,      // fewer than 19 bytes, or the read failed
  BadFrame,   // wrong header or trailer
  BadCrc,     // byte 17 is not the CRC of bytes 2..16
  WrongEcho,  // bytes 6 and 7 do not echo the request
  NoValue,    // a reply form that carries no value
};

// One register that did not match.
struct Oz890Mismatch {
  uint8_t reg = 0;
  uint8_t expected = 0;
  GatewayReply reply = GatewayReply::Valid;  // Valid: a value was read
  uint8_t read = 0;
};

// What the last check found; shared between its worker and the window.
struct Oz890State {
  std::array<uint8_t, kOz890Registers> Oz890Reference{};  // expected values, initially 0
  std::string reference_file;                             // the reference to read; empty: OZ890EEP.ini in the current folder
  bool running = false;                                   // a check is under way
  bool ran = false;                                       // the comparison ran (the port was opened)
  std::string open_error;                                 // why the gateway port could not be opened
  bool reference_loaded = false;
  std::string reference_error;  // why OZ890EEP.ini was not read
  bool complete = false;        // every register gave a valid reply
  bool passed = false;
  int mismatch_count = 0;
  std::vector<Oz890Mismatch> mismatches;
  std::array<uint8_t, kOz890Registers> image{};  // values read (valid replies)
  std::array<GatewayReply, kOz890Registers> replies{};
};

}  // namespace bms
