#pragma once
// The editor's text exactly as the user typed it, lines separated by LF.

#include <QString>
#include <string>

class QPlainTextEdit;

namespace pulsewright {

// Unlike QPlainTextEdit::toPlainText(), keeps no-break spaces as they are.
QString editorText(const QPlainTextEdit& editor);
// The same to read only, without waiting for a large text still loading, which is
// unchanged: positions in it need not be positions in the editor's document yet.
QString editorTextToRead(const QPlainTextEdit& editor);
// True while a large text is still loading into the editor, which takes no edit until
// then; the user is told so.
bool refusedWhileLoading(QPlainTextEdit& editor);
// Replaces the whole text; the document then counts as unchanged. A large text may still
// be loading when this returns (TablatureEditor::loadText); the functions here wait for
// it.
void setEditorText(QPlainTextEdit& editor, const QString& text);
// The same from UTF-8; a large text is converted off the window's thread.
void setEditorUtf8(QPlainTextEdit& editor, std::string utf8);
// Replaces [from, to) with `text` as one undoable edit, leaving the caret after it.
void replaceEditorRange(QPlainTextEdit& editor, qsizetype from, qsizetype to, const QString& text);

}  // namespace pulsewright
