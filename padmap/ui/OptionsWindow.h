#pragma once
// The Options window: the pad map as seventeen entries with "-" and "+" buttons, the
// preset and pad-map file chooser, and "Save". The entries are the pad map that Play and
// the live keyboard read, also while the window is hidden; closing the window hides it,
// so the map lives until the program ends.

#include <QDialog>
#include <QPointer>
#include <array>
#include <functional>

#include "padmap/PadMap.h"

class QComboBox;
class QLineEdit;
class QTabBar;
class QWidget;

namespace pulsewright {

class UserDialogs;
class SaveSettingsDialog;

// A pad-map file is one short line; anything much larger is no pad map.
inline constexpr qint64 kMaxPadMapBytes = qint64{1} << 20;

class OptionsWindow : public QDialog {
  Q_OBJECT

 public:
  // Auditions a voice's key of the live keyboard: press then release.
  using Audition = std::function<void(int keyIndex)>;

  // `padMapFolder` stands for the folder of pad-map files; it is listed once, here.
  OptionsWindow(QString padMapFolder, UserDialogs& dialogs, Audition audition,
                QWidget* parent = nullptr);

  // The current text of every entry, in pad order.
  PadMap padMap() const;
  QString entry(DrumVoice voice) const;
  void setEntry(DrumVoice voice, const QString& text);

  // Start-up: while the chooser still shows its design text, pick the first preset.
  void applyFirstPreset();

  QComboBox* chooser() const { return loadSampleIDs_; }
  QLineEdit* entryField(DrumVoice voice) const { return entries_[index(voice)]; }
  QString padMapFolder() const { return folder_; }
  // The "Save Settings" window while it exists.
  SaveSettingsDialog* saveSettingsDialog() const { return saveDialog_; }

  // "Save Settings" wrote this file: the chooser offers it from now on.
  void padMapFileSaved(const QString& fileName);

  // The "+" and "-" buttons of a voice's row.
  void plus(DrumVoice voice);
  void minus(DrumVoice voice);

 public slots:
  void LoadSampleIDs_Click();
  void SaveSampleIDs_Click();
  void tbsOptions_Click();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void fillChooser();

  QString folder_;
  UserDialogs& dialogs_;
  Audition audition_;
  QTabBar* tbsOptions_ = nullptr;
  QWidget* page_ = nullptr;
  std::array<QLineEdit*, kVoiceCount> entries_{};
  QComboBox* loadSampleIDs_ = nullptr;
  QPointer<SaveSettingsDialog> saveDialog_;
  PadMap openedWith_{};  // the entries when the window was last opened
};

// "Save Settings": writes the current pad map to "<name>.drm" in the pad-map folder.
class SaveSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  SaveSettingsDialog(OptionsWindow& options, UserDialogs& dialogs, QWidget* parent = nullptr);
  QLineEdit* nameField() const { return text1_; }

 public slots:
  void OKButton_Click();

 private:
  OptionsWindow& options_;
  UserDialogs& dialogs_;
  QLineEdit* text1_ = nullptr;
};

}  // namespace pulsewright
