#include "editor/EditorText.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <utility>

#include "editor/TablatureEditor.h"
#include "text/DocumentText.h"

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

namespace {

// Where a change may start or end: not inside a UTF-8 character nor between CR and LF.
bool isBoundary(std::string_view text, std::size_t at) {
  if (at == 0 || at >= text.size()) return at <= text.size();
  const auto byte = static_cast<unsigned char>(text[at]);
  if ((byte & 0xC0) == 0x80) return false;
  return !(text[at - 1] == '\r' && text[at] == '\n');
}

// The UTF-16 units the editor's document holds for text[0, end): a line end is one.
qsizetype utf16Length(std::string_view text, std::size_t from, std::size_t end) {
  qsizetype units = 0;
  for (std::size_t i = from; i < end; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if ((byte & 0xC0) == 0x80) continue;
    units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

}  // namespace

bool applyTextChanges(QPlainTextEdit& editor, const std::vector<TextChange>& changes,
                      bool joinPrevious) {
  finishLoading(editor);
  const std::string text = joinLinesWithCrLf(editorText(editor).toStdString());
  std::size_t after = 0;  // where the change before ended
  for (const TextChange& change : changes) {
    if (change.offset < after || change.offset > text.size() ||
        change.length > text.size() - change.offset || !isBoundary(text, change.offset) ||
        !isBoundary(text, change.offset + change.length)) {
      return false;
    }
    after = change.offset + change.length;
  }
  if (changes.empty()) return true;
  // Positions worked out before anything changes; applied from the last, so that each
  // leaves the positions before it as they were.
  std::vector<std::pair<qsizetype, qsizetype>> ranges;
  qsizetype position = 0;
  std::size_t counted = 0;
  for (const TextChange& change : changes) {
    position += utf16Length(text, counted, change.offset);
    ranges.emplace_back(position,
                        position + utf16Length(text, change.offset, change.offset + change.length));
    counted = change.offset;
  }
  QTextCursor cursor(editor.document());
  if (joinPrevious) {
    cursor.joinPreviousEditBlock();
  } else {
    cursor.beginEditBlock();
  }
  for (std::size_t i = changes.size(); i-- > 0;) {
    cursor.setPosition(static_cast<int>(ranges[i].first));
    cursor.setPosition(static_cast<int>(ranges[i].second), QTextCursor::KeepAnchor);
    QString replacement = QString::fromStdString(changes[i].text);
    replacement.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    cursor.insertText(replacement);
  }
  cursor.endEditBlock();
  return true;
}

std::vector<TextChange> changesBetween(std::string_view before, std::string_view after) {
  const std::size_t shorter = std::min(before.size(), after.size());
  std::size_t head = 0;
  while (head < shorter && before[head] == after[head]) ++head;
  while (head > 0 && (!isBoundary(before, head) || !isBoundary(after, head))) --head;
  if (head == before.size() && head == after.size()) return {};
  std::size_t tail = 0;
  while (tail < shorter - head &&
         before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) {
    ++tail;
  }
  while (tail > 0 &&
         (!isBoundary(before, before.size() - tail) || !isBoundary(after, after.size() - tail))) {
    --tail;
  }
  return {TextChange{head, before.size() - tail - head,
                     std::string(after.substr(head, after.size() - tail - head))}};
}

}  // namespace pulsewright
