#include "editor/VoiceNameCompletion.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStringListModel>
#include <QTextBlock>

#include "padmap/DrumVoice.h"

namespace pulsewright {

const QStringList& VoiceNameCompletion::names() {
  static const QStringList all = [] {
    QStringList list;
    for (const std::string_view names : kVoiceNames) {
      const QString text = QString::fromUtf8(names.data(), static_cast<int>(names.size()));
      for (const QString& name : text.split(QStringLiteral(", "))) {
        if (!list.contains(name)) list << name;
      }
    }
    return list;
  }();
  return all;
}

std::optional<VoiceNameCompletion::Typed> VoiceNameCompletion::typedAt(const QString& line,
                                                                       int column) {
  if (column < 0 || column > line.size() || !line.mid(column).trimmed().isEmpty()) return {};
  // The symbol-first voice line as the compiler reads it: no blank or "=" in the symbol.
  static const QRegularExpression head(QStringLiteral(R"(^\s*([^=\s]+)\s*=\s*)"));
  const QString before = line.left(column);
  const QRegularExpressionMatch match = head.match(before);
  if (!match.hasMatch()) return {};
  static const QStringList keywords = {"song", "part", "name", "symbol", "beat"};
  const QString symbol = match.captured(1);
  if (keywords.contains(symbol, Qt::CaseInsensitive) ||
      symbol.startsWith(QStringLiteral("meta"), Qt::CaseInsensitive)) {
    return {};
  }
  const QString typed = before.mid(match.capturedEnd());
  static const QRegularExpression nameSoFar(QStringLiteral(R"(^[A-Za-z][A-Za-z0-9 \-]*$)"));
  if (!nameSoFar.match(typed).hasMatch()) return {};
  if (typed.startsWith(QStringLiteral("wave"), Qt::CaseInsensitive)) return {};
  return Typed{static_cast<int>(match.capturedEnd()), typed};
}

QStringList VoiceNameCompletion::candidates(const QString& typed) {
  QStringList starting;
  QStringList holding;
  for (const QString& name : names()) {
    if (name.startsWith(typed, Qt::CaseInsensitive)) {
      starting << name;
    } else if (name.contains(typed, Qt::CaseInsensitive)) {
      holding << name;
    }
  }
  return starting + holding;
}

VoiceNameCompleter::VoiceNameCompleter(QPlainTextEdit& editor)
    : QObject(&editor), editor_(editor), completer_(new QCompleter(this)) {
  completer_->setModel(new QStringListModel(completer_));
  completer_->setWidget(&editor);
  completer_->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
  completer_->setCaseSensitivity(Qt::CaseInsensitive);
  completer_->popup()->setObjectName(QStringLiteral("VoiceNamePopup"));
  connect(completer_, qOverload<const QString&>(&QCompleter::activated), this,
          &VoiceNameCompleter::insertName);
}

bool VoiceNameCompleter::popupVisible() const {
  return completer_->popup()->isVisible();
}

bool VoiceNameCompleter::popupTakes(const QKeyEvent& event) const {
  if (!popupVisible()) return false;
  switch (event.key()) {
    case Qt::Key_Enter:
    case Qt::Key_Return: {
      // A name typed whole ("kick", offered beside "kick drum") ends its line.
      const QTextCursor cursor = editor_.textCursor();
      const auto typed =
          VoiceNameCompletion::typedAt(cursor.block().text(), cursor.positionInBlock());
      const QString chosen = completer_->popup()->currentIndex().data().toString();
      return !(typed && chosen.compare(typed->text, Qt::CaseInsensitive) == 0);
    }
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return true;
    default: return false;
  }
}

void VoiceNameCompleter::keyHandled(const QKeyEvent& event) {
  // Only what types or deletes a character changes the offer.
  const bool typing = !event.text().isEmpty() && event.text()[0].isPrint();
  const bool deleting = event.key() == Qt::Key_Backspace || event.key() == Qt::Key_Delete;
  if (!typing && !deleting) {
    if (event.key() != Qt::Key_Shift) completer_->popup()->hide();
    return;
  }
  const QTextCursor cursor = editor_.textCursor();
  const auto typed = cursor.hasSelection() ? std::nullopt
                                           : VoiceNameCompletion::typedAt(cursor.block().text(),
                                                                          cursor.positionInBlock());
  const QStringList offered = typed ? VoiceNameCompletion::candidates(typed->text) : QStringList();
  // Nothing to offer once the name is typed whole.
  if (offered.isEmpty() ||
      (offered.size() == 1 && offered.first().compare(typed->text, Qt::CaseInsensitive) == 0)) {
    completer_->popup()->hide();
    return;
  }
  static_cast<QStringListModel*>(completer_->model())->setStringList(offered);
  completer_->setCompletionPrefix(QString());
  QRect under = editor_.cursorRect();
  under.setWidth(completer_->popup()->sizeHintForColumn(0) +
                 completer_->popup()->verticalScrollBar()->sizeHint().width());
  completer_->complete(under);
  completer_->popup()->setCurrentIndex(completer_->completionModel()->index(0, 0));
}

void VoiceNameCompleter::insertName(const QString& name) {
  QTextCursor cursor = editor_.textCursor();
  const auto typed = VoiceNameCompletion::typedAt(cursor.block().text(), cursor.positionInBlock());
  if (!typed) return;
  cursor.setPosition(cursor.block().position() + typed->start, QTextCursor::KeepAnchor);
  cursor.insertText(name);
  editor_.setTextCursor(cursor);
}

}  // namespace pulsewright
