#include "editor/EditorText.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <utility>

#include "editor/TablatureEditor.h"

namespace pulsewright {

namespace {

// A text still being loaded is waited for: what is read or changed is the whole text.
void finishLoading(const QPlainTextEdit& editor) {
  if (auto* tablature = qobject_cast<TablatureEditor*>(const_cast<QPlainTextEdit*>(&editor))) {
    tablature->finishLoading();
  }
}

}  // namespace

QString editorText(const QPlainTextEdit& editor) {
  finishLoading(editor);
  QString text = editor.document()->toRawText();
  text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  return text;
}

QString editorTextToRead(const QPlainTextEdit& editor) {
  if (const auto* tablature = qobject_cast<const TablatureEditor*>(&editor)) {
    if (const std::string* loading = tablature->textBeingLoaded()) {
      return QString::fromStdString(*loading);
    }
  }
  return editorText(editor);
}

bool refusedWhileLoading(QPlainTextEdit& editor) {
  auto* tablature = qobject_cast<TablatureEditor*>(&editor);
  if (tablature == nullptr || !tablature->isLoading()) return false;
  tablature->refuseEdit();
  return true;
}

void setEditorText(QPlainTextEdit& editor, const QString& text) {
  if (auto* tablature = qobject_cast<TablatureEditor*>(&editor)) {
    tablature->loadText(text);
    return;
  }
  editor.setPlainText(text);
  editor.document()->setModified(false);
}

void setEditorUtf8(QPlainTextEdit& editor, std::string utf8) {
  if (auto* tablature = qobject_cast<TablatureEditor*>(&editor)) {
    tablature->loadUtf8(std::move(utf8));
    return;
  }
  setEditorText(editor, QString::fromStdString(utf8));
}

void replaceEditorRange(QPlainTextEdit& editor, qsizetype from, qsizetype to, const QString& text) {
  finishLoading(editor);
  QTextCursor cursor(editor.document());
  cursor.setPosition(static_cast<int>(from));
  cursor.setPosition(static_cast<int>(to), QTextCursor::KeepAnchor);
  cursor.insertText(text);
  editor.setTextCursor(cursor);
}

}  // namespace pulsewright
