#pragma once
// File > Foreground, Background and Font: the editor's colours and font, kept in the
// settings section "LookAndFeel" and restored at start-up.

#include <QObject>
#include <QString>

class QPlainTextEdit;
class QWidget;

namespace pulsewright {

class SettingsStore;
class UserDialogs;

class AppearanceCommands : public QObject {
  Q_OBJECT

 public:
  AppearanceCommands(QPlainTextEdit* editor, QWidget* parentWindow, UserDialogs& dialogs,
                     SettingsStore& settings, QObject* parent = nullptr);

  // The editor's font family, which printing and the template editor follow.
  QString fontFamily() const;

 public slots:
  void foreground();
  void background();
  void chooseFont();
  // Start-up: the stored font name, size (rounded to whole points, halves to even), style
  // and colours, each left as it is when its stored text is not usable.
  void applyStoredAppearance();

 private:
  // Writes "FontName", "FontSize", "FontBold", "FontItalic", "BackColor" and "ForeColor"
  // from the editor; says so when the settings file could not take them.
  void storeAppearance();

  QPlainTextEdit* editor_;
  QWidget* parentWindow_;
  UserDialogs& dialogs_;
  SettingsStore& settings_;
};

}  // namespace pulsewright
