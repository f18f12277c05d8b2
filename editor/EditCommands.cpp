#include "editor/EditCommands.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "editor/EditorText.h"
#include "editor/FindReplaceDialog.h"

namespace pulsewright {

EditCommands::EditCommands(QPlainTextEdit* editor, QWidget* parentWindow, UserDialogs& dialogs,
                           QObject* parent)
    : QObject(parent), editor_(editor), parentWindow_(parentWindow), dialogs_(dialogs) {}

FindReplaceDialog* EditCommands::findDialog() const {
  return findDialog_.data();
}

void EditCommands::selectAll() {
  QTextCursor cursor = editor_->textCursor();
  cursor.setPosition(0);
  cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  editor_->setTextCursor(cursor);
}

void EditCommands::selectNone() {
  QTextCursor cursor = editor_->textCursor();
  cursor.setPosition(cursor.selectionStart());
  editor_->setTextCursor(cursor);
}

void EditCommands::copy() {
  const QTextCursor cursor = editor_->textCursor();
  if (!cursor.hasSelection()) return;
  // selectedText() keeps no-break spaces, which QPlainTextEdit::copy() would turn into
  // plain spaces; only the line breaks need translating.
  QString text = cursor.selectedText();
  text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  clipboard->setText(text);
}

void EditCommands::cut() {
  if (!editor_->textCursor().hasSelection() || refusedWhileLoading(*editor_)) return;
  copy();
  QTextCursor cursor = editor_->textCursor();
  cursor.removeSelectedText();
  editor_->setTextCursor(cursor);
}

void EditCommands::paste() {
  const QString text = QGuiApplication::clipboard()->text();
  if (text.isEmpty() || refusedWhileLoading(*editor_)) return;
  QTextCursor cursor = editor_->textCursor();
  cursor.insertText(text);
  editor_->setTextCursor(cursor);
}

void EditCommands::find() {
  if (findDialog_.isNull()) {
    findDialog_ = new FindReplaceDialog(editor_, dialogs_, parentWindow_);
  }
  findDialog_->showForFind();
}

}  // namespace pulsewright
