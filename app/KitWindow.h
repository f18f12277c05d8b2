#pragma once
// Settings > Kit: the kits found ("General MIDI" first), the chosen kit's instruments
// each with an audition button, and for each drum voice the instrument it plays and its
// mixer (gain, pan, mute, solo). A view of KitSettingsModel; mixer changes are edits of
// the document's mix line, each one undo step.

#include <QDialog>
#include <array>
#include <functional>

#include "app/KitSettings.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;
class QTableWidget;
class QTimer;

namespace pulsewright {

class TablatureEditor;

class KitWindow : public QDialog {
  Q_OBJECT

 public:
  using PadMapSource = std::function<PadMap()>;
  KitWindow(KitSettingsModel& model, TablatureEditor& editor, PadMapSource padMap,
            QWidget* parent = nullptr);

  QComboBox* kitChooser() const { return kits_; }
  QTableWidget* instrumentTable() const { return instruments_; }
  QTableWidget* voiceTable() const { return voices_; }
  QComboBox* instrumentChooser(DrumVoice voice) const { return voiceRows_[index(voice)].choice; }
  QDoubleSpinBox* gain(DrumVoice voice) const { return voiceRows_[index(voice)].gain; }
  QSpinBox* pan(DrumVoice voice) const { return voiceRows_[index(voice)].pan; }
  QCheckBox* mute(DrumVoice voice) const { return voiceRows_[index(voice)].mute; }
  QCheckBox* solo(DrumVoice voice) const { return voiceRows_[index(voice)].solo; }
  QLabel* status() const { return status_; }

  // The lists and the mixer again, from the model and the document's text.
  void refresh();

 signals:
  // A kit finished loading: its warnings changed.
  void kitLoaded();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  struct VoiceRow {
    QComboBox* choice = nullptr;
    QDoubleSpinBox* gain = nullptr;
    QSpinBox* pan = nullptr;
    QCheckBox* mute = nullptr;
    QCheckBox* solo = nullptr;
  };
  void kitChosen(int row);
  void voiceChosen(std::size_t voice, int row);
  void mixerChanged(std::size_t voice);
  void fillKitDetails();
  void fillMixer();
  void pollLoad();

  KitSettingsModel& model_;
  TablatureEditor& editor_;
  PadMapSource padMap_;
  QComboBox* kits_ = nullptr;
  QLabel* details_ = nullptr;
  QLabel* status_ = nullptr;
  QTableWidget* instruments_ = nullptr;
  QTableWidget* voices_ = nullptr;
  std::array<VoiceRow, kVoiceCount> voiceRows_{};
  QTimer* poll_ = nullptr;
  bool filling_ = false;  // widgets set from the model, not by the user
};

}  // namespace pulsewright
