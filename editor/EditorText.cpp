#include "editor/EditorText.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace pulsewright {

QString editorText(const QPlainTextEdit& editor) {
  QString text = editor.document()->toRawText();
  text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  return text;
}

void setEditorText(QPlainTextEdit& editor, const QString& text) {
  editor.setPlainText(text);
  editor.document()->setModified(false);
}

void replaceEditorRange(QPlainTextEdit& editor, qsizetype from, qsizetype to, const QString& text) {
  QTextCursor cursor(editor.document());
  cursor.setPosition(static_cast<int>(from));
  cursor.setPosition(static_cast<int>(to), QTextCursor::KeepAnchor);
  cursor.insertText(text);
  editor.setTextCursor(cursor);
}

}  // namespace pulsewright
