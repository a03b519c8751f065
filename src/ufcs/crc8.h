#pragma once

#include <cstdint>

namespace ufcs {

// UFCS CRC-8: polynomial 0x29 (x^8 + x^5 + x^3 + 1), initial value 0, most
// significant bit first, no reflection, no final XOR. The count is taken
// modulo 256, as the captured length byte that feeds it is one byte wide.
uint8_t Crc8(const uint8_t* bytes, unsigned count);

}  // namespace ufcs
