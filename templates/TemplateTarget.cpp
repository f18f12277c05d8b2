#include "templates/TemplateTarget.h"

#include <QPlainTextEdit>

namespace pulsewright {

void PlainTextEditTarget::replaceSelection(const QString& text) {
  // Inserting through the cursor turns CR LF into one line break.
  editor_.insertPlainText(text);
}

QString PlainTextEditTarget::editorFontFamily() const {
  return editor_.font().family();
}

}  // namespace pulsewright
