#pragma once
// Work on a large document that the window runs on threads of its own (checking it,
// engraving it) takes turns, so that no two of them hold a compilation of it at once.

#include <mutex>

namespace pulsewright {

inline std::mutex& largeDocumentTurn() {
  static std::mutex turn;
  return turn;
}

}  // namespace pulsewright
