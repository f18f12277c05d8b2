#pragma once
// The text side of Find and Replace: literal search and Replace All, on whole editor
// texts. Positions are 0-based offsets in UTF-16 code units, as the editor counts them.

#include <QString>

namespace pulsewright {

// The offset of the first occurrence of `needle` at or after `from`, or -1. An empty
// find text matches nowhere.
qsizetype findMatch(const QString& text, const QString& needle, qsizetype from,
                    Qt::CaseSensitivity cs);

// How many replacements the repeated passes may make, and how far they may grow the
// text, before Replace All gives up on them.
struct ReplaceAllLimits {
  qsizetype maxReplacements = 1'000'000;
  qsizetype maxGrowth = 16 * 1024 * 1024;
};

struct ReplaceAllResult {
  QString text;
  qsizetype replacements = 0;
  bool singlePass = false;  // each occurrence of the original text replaced once
};

// Replace All. Normally it repeats "replace the first occurrence from the start of the
// text" until none is left, so text made by one replacement takes part in the next
// ("aaaa" with "aa" replaced by "a" gives "a"). Where that would not end, because the
// replacement contains the find text or because the passes keep making new occurrences
// past the limits, each occurrence in the original text is replaced once, left to
// right. An empty find text replaces nothing.
ReplaceAllResult replaceAllText(const QString& text, const QString& needle,
                                const QString& replacement, Qt::CaseSensitivity cs,
                                const ReplaceAllLimits& limits = {});

}  // namespace pulsewright
