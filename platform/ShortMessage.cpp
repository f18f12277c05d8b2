#include "platform/ShortMessage.h"

namespace pulsewright {

int shortMessageBytes(std::uint32_t word, std::uint8_t bytes[3]) {
  const std::uint8_t status = word & 0xFF;
  bytes[0] = status;
  bytes[1] = (word >> 8) & 0xFF;
  bytes[2] = (word >> 16) & 0xFF;
  int length = 0;
  if (status < 0x80 || (word >> 24) != 0) return 0;
  if (status < 0xF0) {
    const int kind = status & 0xF0;
    length = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
  } else {
    switch (status) {
      case 0xF1:
      case 0xF3: length = 2; break;
      case 0xF2: length = 3; break;
      case 0xF6:
      case 0xF8:
      case 0xFA:
      case 0xFB:
      case 0xFC:
      case 0xFE:
      case 0xFF: length = 1; break;
      default: return 0;  // system exclusive and the undefined status bytes
    }
  }
  for (int i = 1; i < length; ++i) {
    if (bytes[i] & 0x80) return 0;
  }
  return length;
}

}  // namespace pulsewright
