#pragma once
// The editor's text exactly as the user typed it, lines separated by LF.

#include <QString>
#include <string>
#include <vector>

#include "tablature/GrooveEdit.h"

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
// Applies `changes` (byte offsets into the text with its lines joined by CR LF, as the
// compiler reads it; in text order, none overlapping) as one undo step, or as part of the
// last one with `joinPrevious`, touching only those characters. False, and nothing
// changed, when a change falls outside the text or inside a character or a line end.
bool applyTextChanges(QPlainTextEdit& editor, const std::vector<TextChange>& changes,
                      bool joinPrevious = false);
// The one change that turns `before` into `after` (texts with lines joined by CR LF),
// whole characters and line ends kept whole; none when they are the same.
std::vector<TextChange> changesBetween(std::string_view before, std::string_view after);

}  // namespace pulsewright
