#pragma once
// The engraved score as a PDF document, drawn from the same pages as printing in the
// window: vector strokes and the standard Helvetica faces, no toolkit.

#include <string>

#include "notation/Score.h"

namespace pulsewright {

enum class Paper { A4, Letter };

struct PdfScore {
  std::string bytes;
  int pages = 0;
};

PdfScore pdfOfScore(const Score& score, Paper paper);

}  // namespace pulsewright
