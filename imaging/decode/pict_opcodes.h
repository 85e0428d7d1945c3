// The table of the picture opcodes 0x00 to 0xA1: name (for the trace) and how much data
// follows each. Opcodes above 0xA1 are reserved ranges whose lengths follow from the opcode
// itself (see CPictDecoder).
#pragma once

#include <cstdint>

namespace pict {

// Data length kinds besides a plain byte count (>= 0).
inline constexpr int kWord = -1;     // a 16-bit length, then that many bytes
inline constexpr int kRecord = -2;   // a 16-bit length that counts its own two bytes
inline constexpr int kSpecial = -3;  // the decoder reads the data itself

struct OpcodeInfo {
  const char* name;  // "reserved" for opcodes without a meaning
  int length;        // byte count, or one of the kinds above
};

inline constexpr int kTableOpcodes = 0xA2;

// The entry of an opcode below kTableOpcodes.
const OpcodeInfo& Opcode(unsigned opcode);

}  // namespace pict
