#pragma once
// A large text shown whole and read-only while the editor lays it into a document of its
// own, which takes seconds: the lines in view are painted straight from its UTF-8, with
// the editor's font, colours and line-number gutter, and no caret. It scrolls like the
// editor (wheel, scroll bars, arrows, Page Up/Down, Ctrl+Home/End); a key that would edit
// is refused (editRefused()).

#include <QAbstractScrollArea>
#include <QString>
#include <QTextOption>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "editor/TablatureHighlighter.h"
#include "tablature/LinePatterns.h"

class QLabel;

namespace pulsewright {

class LargeTextPreview : public QAbstractScrollArea {
  Q_OBJECT

 public:
  struct Look {
    QTextOption option;  // tab stops
    qreal margin = 4;    // the document's margin
    LineStyles styles;
  };

  LargeTextPreview(std::shared_ptr<const std::string> utf8, Look look, QWidget* parent = nullptr);
  ~LargeTextPreview() override;

  const std::string& utf8() const { return *text_; }
  // False when the text holds characters that a QTextDocument takes as line breaks
  // besides LF (CR, U+2029, U+FDD0, U+FDD1): the lines here are still the document's,
  // but its text will not be this one.
  bool isExact() const { return exact_; }
  int lineCount() const { return static_cast<int>(starts_.size()); }
  // Line `line` (from 0) without its line break.
  QString line(int line) const;
  // Where line `line` ends in the text, before its line break.
  std::size_t lineEnd(int line) const;
  int topLine() const;
  void setTopLine(int line);
  int horizontalOffset() const;
  // The first and last line (from 0) at least partly in view.
  std::pair<int, int> visibleLines() const;
  void setStyles(const LineStyles& styles);
  // Shows why an edit was refused until the preview goes.
  void showNotice(const QString& text);

  // True for a key that edits text in a plain-text editor.
  static bool isEditingKey(const QKeyEvent& event);

 signals:
  void editRefused();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  class Gutter;

  void paintGutter(QPaintEvent* event);
  void updateGeometries();
  // Where line `line` is drawn in the viewport: the document's margin above the first.
  qreal lineTop(int line) const;
  void drawLine(QPainter& painter, int line, qreal top) const;

  std::shared_ptr<const std::string> text_;
  std::vector<std::size_t> starts_;  // where each line begins in the text
  std::size_t longest_ = 0;          // the longest line, bytes
  bool exact_ = true;
  Look look_;
  LineMatcher matcher_;
  Gutter* gutter_;
  QLabel* notice_ = nullptr;
  qreal lineHeight_ = 1;
};

}  // namespace pulsewright
