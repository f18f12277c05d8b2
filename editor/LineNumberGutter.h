#pragma once
// The editor's gutter: the line numbers, a marker on each line with problems (a dot for an
// error, a triangle for a warning) and their text as a tooltip. The preview of a large
// text paints one of the same width and colours. It paints in its parent's font and
// colours, and learns where the lines are from the editor beside it through Lines.

#include <QColor>
#include <QString>
#include <QWidget>
#include <functional>

class QTextBlock;

namespace pulsewright {

class DiagnosticsBlockData;
struct LineStyles;

// The problems kept on `block`, or null.
const DiagnosticsBlockData* diagnosticsOf(const QTextBlock& block);
// The problems of `block` that cover UTF-16 column `position` (all of them for -1), one
// a line ("error: ..."); "" for none.
QString diagnosticsText(const QTextBlock& block, int position);

class LineNumberGutter : public QWidget {
 public:
  // The editor the gutter numbers.
  class Lines {
   public:
    // Each block shown, with its top and bottom in the viewport, from the first in view
    // down to the one that reaches below `bottom`.
    using Visit = std::function<void(const QTextBlock& block, int top, int bottom)>;
    virtual void forEachLineInView(int bottom, const Visit& visit) const = 0;
    // The block at height `y` of the viewport.
    virtual QTextBlock blockAtHeight(int y) const = 0;
    virtual const LineStyles& lineStyles() const = 0;
    virtual int numberedLines() const = 0;

   protected:
    ~Lines() = default;
  };

  LineNumberGutter(const Lines& lines, QWidget* parent);
  QSize sizeHint() const override;

  // The width for a text of `lines` lines in `font`: at least three digits and a marker.
  static int widthFor(const QFont& font, int lines);
  static QColor background(const QPalette& palette);
  static QColor numberColour(const QPalette& palette);

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  const Lines& lines_;
};

}  // namespace pulsewright
