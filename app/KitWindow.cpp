#include "app/KitWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTableWidget>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "editor/EditorText.h"
#include "editor/TablatureEditor.h"
#include "kits/KitVoiceFile.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

// The voice table's columns.
enum KitVoiceColumn { kVoiceInstrument, kVoiceGain, kVoicePan, kVoiceMute, kVoiceSolo };

std::string kitWindowText(const TablatureEditor& editor) {
  return joinLinesWithCrLf(editorText(editor).toStdString());
}

}  // namespace

KitWindow::KitWindow(KitSettingsModel& model, TablatureEditor& editor, PadMapSource padMap,
                     QWidget* parent)
    : QDialog(parent), model_(model), editor_(editor), padMap_(std::move(padMap)) {
  setObjectName("KitWindow");
  setWindowTitle("Kit");
  auto* layout = new QVBoxLayout(this);
  kits_ = new QComboBox(this);
  kits_->setObjectName("KitChooser");
  layout->addWidget(kits_);
  details_ = new QLabel(this);
  details_->setObjectName("KitDetails");
  details_->setWordWrap(true);
  details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(details_);
  status_ = new QLabel(this);
  status_->setObjectName("KitStatus");
  status_->setWordWrap(true);
  layout->addWidget(status_);

  instruments_ = new QTableWidget(0, 3, this);
  instruments_->setObjectName("KitInstruments");
  instruments_->setHorizontalHeaderLabels({"Instrument", "Layers", ""});
  instruments_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  instruments_->verticalHeader()->hide();
  instruments_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  layout->addWidget(instruments_);

  voices_ = new QTableWidget(static_cast<int>(kVoiceCount), 5, this);
  voices_->setObjectName("KitVoices");
  voices_->setHorizontalHeaderLabels({"Plays", "Gain (dB)", "Pan", "Mute", "Solo"});
  voices_->horizontalHeader()->setSectionResizeMode(kVoiceInstrument, QHeaderView::Stretch);
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const int row = static_cast<int>(v);
    voices_->setVerticalHeaderItem(
        row, new QTableWidgetItem(QString::fromUtf8(
                 kVoiceCaptions[v].data(), static_cast<qsizetype>(kVoiceCaptions[v].size()))));
    VoiceRow& r = voiceRows_[v];
    r.choice = new QComboBox(voices_);
    r.gain = new QDoubleSpinBox(voices_);
    r.gain->setRange(kMixMinGainDb, kMixMaxGainDb);
    r.gain->setDecimals(1);
    r.gain->setSingleStep(1);
    r.pan = new QSpinBox(voices_);
    r.pan->setRange(-100, 100);
    r.pan->setToolTip("-100 left, 0 centre, 100 right");
    r.mute = new QCheckBox(voices_);
    r.solo = new QCheckBox(voices_);
    voices_->setCellWidget(row, kVoiceInstrument, r.choice);
    voices_->setCellWidget(row, kVoiceGain, r.gain);
    voices_->setCellWidget(row, kVoicePan, r.pan);
    voices_->setCellWidget(row, kVoiceMute, r.mute);
    voices_->setCellWidget(row, kVoiceSolo, r.solo);
    connect(r.choice, &QComboBox::activated, this, [this, v](int i) { voiceChosen(v, i); });
    // A spin box's value is taken when its editing ends, so typing "-12" is one edit.
    r.gain->setKeyboardTracking(false);
    r.pan->setKeyboardTracking(false);
    connect(r.gain, &QDoubleSpinBox::valueChanged, this, [this, v] { mixerChanged(v); });
    connect(r.pan, &QSpinBox::valueChanged, this, [this, v] { mixerChanged(v); });
    connect(r.mute, &QCheckBox::toggled, this, [this, v] { mixerChanged(v); });
    connect(r.solo, &QCheckBox::toggled, this, [this, v] { mixerChanged(v); });
  }
  layout->addWidget(voices_);
  connect(kits_, &QComboBox::activated, this, &KitWindow::kitChosen);
  // Undo, redo and typing change the mix line: the mixer follows.
  connect(editor_.document(), &QTextDocument::contentsChanged, this, [this] {
    if (isVisible()) fillMixer();
  });
  poll_ = new QTimer(this);
  poll_->setInterval(100);
  connect(poll_, &QTimer::timeout, this, &KitWindow::pollLoad);
  poll_->start();
  resize(640, 720);
}

void KitWindow::showEvent(QShowEvent* event) {
  refresh();
  QDialog::showEvent(event);
}

void KitWindow::refresh() {
  model_.refresh();
  filling_ = true;
  kits_->clear();
  kits_->addItem(kGeneralMidiKitName);
  for (const KitInfo& kit : model_.kits()) {
    kits_->addItem(QString::fromStdString(kit.name));
    kits_->setItemData(kits_->count() - 1, QString::fromStdString(KitSettingsModel::describe(kit)),
                       Qt::ToolTipRole);
  }
  const std::string chosen = model_.chosenName();
  const KitInfo* kit = chosen.empty() ? nullptr : findKit(model_.kits(), chosen);
  kits_->setCurrentIndex(kit ? kits_->findText(QString::fromStdString(kit->name)) : 0);
  filling_ = false;
  model_.prepare(kitWindowText(editor_), padMap_());
  fillKitDetails();
  fillMixer();
}

void KitWindow::kitChosen(int row) {
  if (filling_) return;
  model_.choose(row <= 0 ? std::string() : kits_->itemText(row).toStdString());
  // The document's kit line wins over the choice while it plays.
  model_.prepare(kitWindowText(editor_), padMap_());
  fillKitDetails();
}

void KitWindow::fillKitDetails() {
  filling_ = true;
  const KitInfo* kit = model_.current();
  const std::string line = model_.kitFor(kitWindowText(editor_));
  QString details;
  if (kit) {
    details = QString::fromStdString(KitSettingsModel::describe(*kit));
  } else {
    details = "General MIDI: the built-in synthesiser plays every voice.";
  }
  if (!line.empty() && line != model_.chosenName()) {
    details += QString::fromStdString("\nThe document names its kit: " + line + ".");
  }
  details_->setText(details);
  status_->setText(model_.loading() ? "Loading..." : model_.warnings().join("\n"));

  instruments_->setRowCount(0);
  const bool hydrogen = kit && kit->kind == KitInfo::Kind::kHydrogen;
  if (hydrogen) {
    instruments_->setRowCount(static_cast<int>(kit->instruments.size()));
    for (std::size_t i = 0; i < kit->instruments.size(); ++i) {
      const int row = static_cast<int>(i);
      instruments_->setItem(row, 0,
                            new QTableWidgetItem(QString::fromStdString(kit->instruments[i].name)));
      instruments_->setItem(
          row, 1, new QTableWidgetItem(QString::number(kit->instruments[i].layers.size())));
      auto* play = new QPushButton("Audition", instruments_);
      play->setObjectName("Audition" + QString::number(row));
      connect(play, &QPushButton::clicked, this, [this, row] { model_.audition(row); });
      instruments_->setCellWidget(row, 2, play);
    }
  }
  const KitVoiceMap map = model_.voiceMap();
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    QComboBox* choice = voiceRows_[v].choice;
    choice->clear();
    choice->addItem(kKitVoiceSynthesiserName);
    if (hydrogen) {
      for (const KitInstrumentInfo& i : kit->instruments) {
        choice->addItem(QString::fromStdString(i.name));
      }
    }
    choice->setCurrentIndex(map[v] + 1);
    choice->setEnabled(hydrogen);
  }
  filling_ = false;
}

void KitWindow::voiceChosen(std::size_t voice, int row) {
  if (filling_) return;
  std::string problem;
  if (!model_.setVoiceChoice(voice, row <= 0 ? kKitVoiceSynthesiser : row - 1, &problem)) {
    status_->setText(QString::fromStdString(problem));
    return;
  }
  fillKitDetails();
}

void KitWindow::fillMixer() {
  filling_ = true;
  const DocumentMix mix = documentMix(kitWindowText(editor_));
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const VoiceMix& m = mix.voices[v];
    voiceRows_[v].gain->setValue(m.gainDb);
    voiceRows_[v].pan->setValue(static_cast<int>(std::lround(m.pan)));
    voiceRows_[v].mute->setChecked(m.mute);
    voiceRows_[v].solo->setChecked(m.solo);
  }
  filling_ = false;
}

void KitWindow::mixerChanged(std::size_t voice) {
  if (filling_) return;
  const std::string text = kitWindowText(editor_);
  DocumentMix mix = documentMix(text);
  VoiceMix& m = mix.voices[voice];
  m.gainDb = voiceRows_[voice].gain->value();
  m.pan = voiceRows_[voice].pan->value();
  m.mute = voiceRows_[voice].mute->isChecked();
  m.solo = voiceRows_[voice].solo->isChecked();
  if (const std::optional<TextChange> change = mixLineChange(text, mix)) {
    if (!editor_.applyTextChanges({*change})) return;
  }
  // Heard from the next hit on, also while the song plays.
  model_.applyMix(mix, padMap_());
}

void KitWindow::pollLoad() {
  if (!model_.poll()) return;
  if (isVisible()) fillKitDetails();
  emit kitLoaded();
}

}  // namespace pulsewright
