#include "tests/support/ScriptedUserDialogs.h"

namespace pulsewright {

namespace {

template <typename T>
T takeFront(std::deque<T>& queue, T whenEmpty) {
  if (queue.empty()) return whenEmpty;
  T answer = std::move(queue.front());
  queue.pop_front();
  return answer;
}

}  // namespace

void ScriptedUserDialogs::message(QWidget*, const QString& text) {
  messages.append(text);
}

UserDialogs::SaveChoice ScriptedUserDialogs::askToSaveChanges(QWidget*, const QString& text) {
  saveQuestions.append(text);
  return takeFront(saveChoices, SaveChoice::Cancel);
}

QString ScriptedUserDialogs::openFileName(QWidget*) {
  ++openDialogs;
  return takeFront(openFileNames, QString());
}

QString ScriptedUserDialogs::importFileName(QWidget*, const QString& caption, const QString&) {
  ++openDialogs;
  importCaptions << caption;
  return takeFront(openFileNames, QString());
}

QString ScriptedUserDialogs::saveFileName(QWidget*) {
  ++saveDialogs;
  return takeFront(saveFileNames, QString());
}

QString ScriptedUserDialogs::exportFileName(QWidget*, const QString&, const QString&,
                                            const QString& suggested) {
  exportSuggestions << suggested;
  return takeFront(exportFileNames, QString());
}

bool ScriptedUserDialogs::askYesNo(QWidget*, const QString& text) {
  yesNoQuestions.append(text);
  return takeFront(yesNoAnswers, false);
}

std::optional<QColor> ScriptedUserDialogs::chooseColor(QWidget*, const QColor& initial) {
  initialColors.append(initial);
  return takeFront(colors, std::optional<QColor>());
}

std::optional<QFont> ScriptedUserDialogs::chooseFont(QWidget*, const QFont& initial) {
  initialFonts.append(initial);
  return takeFront(fonts, std::optional<QFont>());
}

std::optional<int> ScriptedUserDialogs::chooseNumber(QWidget*, const QString& label, int, int,
                                                     int) {
  numberQuestions.append(label);
  return takeFront(numbers, std::optional<int>());
}

std::optional<int> ScriptedUserDialogs::chooseItem(QWidget*, const QString& label,
                                                   const QStringList&, int) {
  itemQuestions.append(label);
  return takeFront(items, std::optional<int>());
}

}  // namespace pulsewright
