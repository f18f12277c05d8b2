#pragma once
// What the template windows need from the main window: the editor that Insert writes into
// and whose font the template editor follows.

#include <QString>

class QPlainTextEdit;

namespace pulsewright {

class TemplateTarget {
 public:
  virtual ~TemplateTarget() = default;
  // Puts the text in place of the editor's selection, or at the caret when nothing is
  // selected. Lines may end with CR LF.
  virtual void replaceSelection(const QString& text) = 0;
  // The font name of the main editor.
  virtual QString editorFontFamily() const = 0;
};

// A TemplateTarget over a plain-text editor widget.
class PlainTextEditTarget : public TemplateTarget {
 public:
  explicit PlainTextEditTarget(QPlainTextEdit& editor) : editor_(editor) {}
  void replaceSelection(const QString& text) override;
  QString editorFontFamily() const override;

 private:
  QPlainTextEdit& editor_;
};

}  // namespace pulsewright
