#include "editor/FindReplace.h"

#include <algorithm>

namespace pulsewright {

qsizetype findMatch(const QString& text, const QString& needle, qsizetype from,
                    Qt::CaseSensitivity cs) {
  if (needle.isEmpty() || from < 0 || from > text.size()) return -1;
  return text.indexOf(needle, from, cs);
}

namespace {

QString reversed(const QString& text) {
  QString out = text;
  std::reverse(out.begin(), out.end());
  return out;
}

ReplaceAllResult replaceEachOnce(const QString& text, const QString& needle,
                                 const QString& replacement, Qt::CaseSensitivity cs) {
  ReplaceAllResult result{text, 0, true};
  // replace() takes the occurrences left to right without overlap; count those.
  for (qsizetype at = text.indexOf(needle, 0, cs); at >= 0;
       at = text.indexOf(needle, at + needle.size(), cs)) {
    ++result.replacements;
  }
  result.text.replace(needle, replacement, cs);
  return result;
}

}  // namespace

ReplaceAllResult replaceAllText(const QString& text, const QString& needle,
                                const QString& replacement, Qt::CaseSensitivity cs,
                                const ReplaceAllLimits& limits) {
  if (needle.isEmpty()) return {text, 0, false};
  if (replacement.contains(needle, cs)) return replaceEachOnce(text, needle, replacement, cs);

  // Replacing the first occurrence from the start, again and again, is the same as one
  // scan that moves characters from the input to the output and, whenever the output
  // ends with the find text, takes it off and puts the replacement back in front of the
  // input: every occurrence has the same length, so the one that ends first is the one
  // that starts first, and nothing before it can have changed.
  const QStringView find(needle);
  QString done;
  done.reserve(text.size());
  QString pending = reversed(text);  // the input, its front at the back
  const QString reversedReplacement = reversed(replacement);
  const qsizetype maxSize = text.size() + limits.maxGrowth;
  qsizetype replacements = 0;
  while (!pending.isEmpty()) {
    done.append(pending.back());
    pending.chop(1);
    if (done.size() >= find.size() && QStringView(done).endsWith(find, cs)) {
      done.chop(find.size());
      pending.append(reversedReplacement);
      ++replacements;
      if (replacements > limits.maxReplacements || done.size() + pending.size() > maxSize) {
        return replaceEachOnce(text, needle, replacement, cs);
      }
    }
  }
  return {done, replacements, false};
}

}  // namespace pulsewright
