#include "ufcs/crc8.h"

#include <array>

namespace ufcs {
namespace {

constexpr uint8_t kPolynomial = 0x29;

constexpr std::array<uint8_t, 256> makeTable() {
    std::array<uint8_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        uint8_t reg = static_cast<uint8_t>(value);
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = (reg & 0x80) != 0;
            reg = static_cast<uint8_t>(reg << 1);
            if (carry) reg ^= kPolynomial;
        }
        table[value] = reg;
    }
    return table;
}

constexpr std::array<uint8_t, 256> kTable = makeTable();

}  // namespace

uint8_t Crc8(const uint8_t* bytes, unsigned count) {
    uint8_t reg = 0;
    for (unsigned i = 0; i < (count & 0xFF); ++i)
        reg = kTable[reg ^ bytes[i]];
    return reg;
}

}  // namespace ufcs
