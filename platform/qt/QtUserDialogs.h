#pragma once
// The user's answers through the real Qt dialogs.

#include "platform/qt/UserDialogs.h"

namespace pulsewright {

class QtUserDialogs : public UserDialogs {
 public:
  void message(QWidget* parent, const QString& text) override;
  SaveChoice askToSaveChanges(QWidget* parent, const QString& text) override;
  QString openFileName(QWidget* parent) override;
  QString saveFileName(QWidget* parent) override;
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
