#pragma once
// Colours the tablature as the compiler reads it: every line is classified by the
// tablature library's own line patterns (never the compiler's carried-over state), so
// the colours agree with what Play does. Grid lines are shaded step by step. The
// colours derive from the editor's text and background colours, so they stay readable
// on light and dark backgrounds alike. Diagnostics kept on a block are underlined.

#include <QColor>
#include <QSyntaxHighlighter>
#include <QTextBlockUserData>
#include <QTextCharFormat>
#include <QTextLayout>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "tablature/Diagnostics.h"
#include "tablature/LinePatterns.h"

class QPalette;

namespace pulsewright {

enum class LineKind { None, Wave, Meta, Voice, Song, Section, Grid };

// The kind a line is shown as when it passed several tests.
LineKind lineKindOf(const LineTests& tests);

// One diagnostic as it sits on its line in the editor.
struct BlockDiagnostic {
  int utf16Column = 0;
  int utf16Length = 0;
  Severity severity = Severity::Warning;
  QString text;
  bool operator==(const BlockDiagnostic&) const = default;
};

// The diagnostics of one line, kept on its text block so that they move with it while
// lines are added or removed above.
class DiagnosticsBlockData : public QTextBlockUserData {
 public:
  std::vector<BlockDiagnostic> items;
  Severity worst() const;
};

struct LineStyles {
  QTextCharFormat voice;
  QTextCharFormat section;
  QTextCharFormat song;
  QTextCharFormat wave;
  QTextCharFormat meta;
  QTextCharFormat plain;  // lines of no kind: remarks, muted
  QTextCharFormat gridSymbol;
  QTextCharFormat bar;
  QTextCharFormat rest;
  QTextCharFormat bracket;
  std::array<QTextCharFormat, 10> level;  // hits by level 0-9
  QTextCharFormat accent;                 // X and O
  QColor warning;
  QColor error;

  // Derived from the text colour `text` on the background `base`.
  static LineStyles forColors(const QColor& text, const QColor& base);
  const QTextCharFormat& of(LineKind kind) const;
};

// The colours of one line as the highlighter gives them, diagnostics aside: runs over its
// UTF-16 units, in order. Lines too long to colour (kLongestColouredLine) get none.
QList<QTextLayout::FormatRange> lineFormats(const QString& text, const LineMatcher& matcher,
                                            const LineStyles& styles);

// WCAG contrast ratio of two colours, 1 to 21.
double contrastRatio(const QColor& a, const QColor& b);

class TablatureHighlighter : public QSyntaxHighlighter {
  Q_OBJECT

 public:
  explicit TablatureHighlighter(QTextDocument* document);
  // With these colours from the start: on an empty document, nothing is coloured again.
  TablatureHighlighter(QTextDocument* document, const LineStyles& styles);
  ~TablatureHighlighter() override;

  // New colours; every line is coloured again.
  void setColors(const QColor& text, const QColor& base);
  const LineStyles& styles() const { return styles_; }

  // Which lines are coloured now; the others get one muted colour and are not even read
  // (the editor colours the lines in and near the view, and the others as they come
  // into it, so that a full pass over a long document stays quick). Null colours every
  // line.
  void setDetailFilter(std::function<bool(const QTextBlock&)> filter);
  // True for a line the filter left in one colour, or never coloured, to be coloured
  // when shown.
  static bool isShadedLater(const QTextBlock& block);

  // Lines longer than this (UTF-16 units) are left plain: colouring a megabyte of grid
  // character by character would stall typing.
  static constexpr int kLongestColouredLine = 20000;

 protected:
  void highlightBlock(const QString& text) override;

 private:
  void underline(const DiagnosticsBlockData& data, int length);

  LineMatcher matcher_;
  LineStyles styles_;
  std::function<bool(const QTextBlock&)> detailFilter_;
};

}  // namespace pulsewright
