#pragma once
// Answers the dialogs from queues filled by a test, and records what was asked. An empty
// queue answers as the user's Cancel would.

#include <QList>
#include <QStringList>
#include <deque>

#include "platform/qt/UserDialogs.h"

namespace pulsewright {

class ScriptedUserDialogs : public UserDialogs {
 public:
  // Answers, taken from the front.
  std::deque<SaveChoice> saveChoices;
  std::deque<QString> openFileNames;
  std::deque<QString> saveFileNames;
  std::deque<std::optional<QColor>> colors;
  std::deque<std::optional<QFont>> fonts;
  std::deque<QString> exportFileNames;
  std::deque<bool> yesNoAnswers;  // empty: No
  std::deque<std::optional<int>> numbers;
  std::deque<std::optional<int>> items;

  // What was shown, in order.
  QStringList messages;
  QStringList saveQuestions;
  QStringList yesNoQuestions;
  int openDialogs = 0;
  QStringList importCaptions;
  int saveDialogs = 0;
  QList<QColor> initialColors;
  QList<QFont> initialFonts;
  QStringList numberQuestions;
  QStringList itemQuestions;
  QStringList exportSuggestions;

  void message(QWidget* parent, const QString& text) override;
  SaveChoice askToSaveChanges(QWidget* parent, const QString& text) override;
  QString openFileName(QWidget* parent) override;
  QString saveFileName(QWidget* parent) override;
  // Answered from openFileNames; the caption is kept in importCaptions.
  QString importFileName(QWidget* parent, const QString& caption, const QString& filter) override;
  QString exportFileName(QWidget* parent, const QString& caption, const QString& filter,
                         const QString& suggested) override;
  bool askYesNo(QWidget* parent, const QString& text) override;
  std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial) override;
  std::optional<QFont> chooseFont(QWidget* parent, const QFont& initial) override;
  std::optional<int> chooseNumber(QWidget* parent, const QString& label, int initial, int minimum,
                                  int maximum) override;
  std::optional<int> chooseItem(QWidget* parent, const QString& label, const QStringList& items,
                                int initial) override;
};

}  // namespace pulsewright
