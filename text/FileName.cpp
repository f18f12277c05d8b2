#include "text/FileName.h"

namespace pulsewright {

bool endsInWav(std::string_view name) {
  if (name.size() < 4) return false;
  const std::string_view end = name.substr(name.size() - 4);
  return end[0] == '.' && (end[1] | 0x20) == 'w' && (end[2] | 0x20) == 'a' &&
         (end[3] | 0x20) == 'v';
}

}  // namespace pulsewright
