#include "padmap/DrumKeys.h"

namespace pulsewright {

int keyOfVoice(DrumVoice voice) {
  for (int i = 0; i < kKeyCount; ++i) {
    if (kKeyboardKeys[i].voice == voice) return i;
  }
  return -1;
}

}  // namespace pulsewright
