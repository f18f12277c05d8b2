#include "padmap/ui/OptionsWindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTabBar>
#include <QVBoxLayout>
#include <cmath>

#include "fileio/QtFileAccess.h"
#include "padmap/DrumKeys.h"
#include "padmap/DrumVoice.h"
#include "padmap/ui/GeneralMidiDrums.h"
#include "platform/qt/UserDialogs.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

QString padMapExtension() {
  return QString::fromUtf8(kPadMapFileExtension.data(),
                           static_cast<qsizetype>(kPadMapFileExtension.size()));
}
constexpr char kDesignChooserText[] = "Combo1";
}  // namespace

OptionsWindow::OptionsWindow(QString padMapFolder, UserDialogs& dialogs, Audition audition,
                             QWidget* parent)
    : QDialog(parent),
      folder_(std::move(padMapFolder)),
      dialogs_(dialogs),
      audition_(std::move(audition)) {
  setWindowTitle("Options");
  setModal(false);

  tbsOptions_ = new QTabBar(this);
  tbsOptions_->addTab("Pad Assignment");
  connect(tbsOptions_, &QTabBar::currentChanged, this, &OptionsWindow::tbsOptions_Click);

  page_ = new QWidget(this);
  auto* sounds = new QGroupBox("Sounds", page_);
  auto* grid = new QGridLayout(sounds);
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const auto voice = static_cast<DrumVoice>(v);
    auto* caption = new QLabel(
        QString::fromUtf8(kVoiceCaptions[v].data(), static_cast<int>(kVoiceCaptions[v].size())),
        sounds);
    auto* minusButton = new QPushButton("-", sounds);
    auto* plusButton = new QPushButton("+", sounds);
    minusButton->setAutoDefault(false);
    plusButton->setAutoDefault(false);
    minusButton->setFixedWidth(28);
    plusButton->setFixedWidth(28);
    entries_[v] = new QLineEdit(sounds);
    entries_[v]->setFixedWidth(60);
    const int row = static_cast<int>(v);
    grid->addWidget(caption, row, 0);
    grid->addWidget(minusButton, row, 1);
    grid->addWidget(entries_[v], row, 2);
    grid->addWidget(plusButton, row, 3);
    // The General MIDI drum of the entry's note, beside it.
    auto* drum = new QLabel(sounds);
    drum->setObjectName(QStringLiteral("GeneralMidi%1").arg(row));
    drum->setMinimumWidth(drum->fontMetrics().horizontalAdvance("Acoustic Bass Drum  "));
    grid->addWidget(drum, row, 4);
    connect(entries_[v], &QLineEdit::textChanged, drum, [drum](const QString& text) {
      bool isNumber = false;
      const double note = text.trimmed().toDouble(&isNumber);
      const std::string_view name = isNumber && std::abs(note) < 1000
                                        ? generalMidiDrumName(static_cast<int>(std::lround(note)))
                                        : std::string_view();
      drum->setText(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    });
    connect(minusButton, &QPushButton::clicked, this, [this, voice] { minus(voice); });
    connect(plusButton, &QPushButton::clicked, this, [this, voice] { plus(voice); });
  }
  loadSampleIDs_ = new QComboBox(sounds);
  loadSampleIDs_->setEditable(true);
  loadSampleIDs_->setInsertPolicy(QComboBox::NoInsert);
  loadSampleIDs_->setMinimumWidth(180);
  auto* saveButton = new QPushButton("Save", sounds);
  saveButton->setAutoDefault(false);
  grid->addWidget(loadSampleIDs_, static_cast<int>(kVoiceCount), 0, 1, 3);
  grid->addWidget(saveButton, static_cast<int>(kVoiceCount), 3);
  connect(saveButton, &QPushButton::clicked, this, &OptionsWindow::SaveSampleIDs_Click);
  auto* pageLayout = new QVBoxLayout(page_);
  pageLayout->addWidget(sounds);

  auto* ok = new QPushButton("OK", this);
  auto* cancel = new QPushButton("Cancel", this);
  auto* apply = new QPushButton("Apply", this);
  // An edit is in force as it is typed; Cancel puts back the entries the window opened with.
  connect(ok, &QPushButton::clicked, this, &QWidget::hide);
  connect(cancel, &QPushButton::clicked, this, [this] {
    for (std::size_t v = 0; v < kVoiceCount; ++v) {
      entries_[v]->setText(QString::fromStdString(openedWith_[v]));
    }
    hide();
  });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(apply);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tbsOptions_);
  layout->addWidget(page_);
  layout->addLayout(buttons);

  // The window's load: fill the chooser once, then centre on the screen.
  fillChooser();
  loadSampleIDs_->setCurrentIndex(-1);
  loadSampleIDs_->setEditText(kDesignChooserText);
  // Picking an item (not typing in the box) applies it.
  connect(loadSampleIDs_, qOverload<int>(&QComboBox::activated), this,
          &OptionsWindow::LoadSampleIDs_Click);
  adjustSize();
  if (QScreen* screen = this->screen()) {
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
  }
}

void OptionsWindow::fillChooser() {
  for (const DrumMachinePreset& preset : kDrumMachinePresets) {
    loadSampleIDs_->addItem(
        QString::fromUtf8(preset.name.data(), static_cast<int>(preset.name.size())));
  }
  QDir dir(folder_);
  const QStringList files = dir.entryList(
      {"*" + padMapExtension()}, QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
  for (const QString& name : files) loadSampleIDs_->addItem(name);
}

PadMap OptionsWindow::padMap() const {
  PadMap map;
  for (std::size_t v = 0; v < kVoiceCount; ++v) map[v] = entries_[v]->text().toStdString();
  return map;
}

QString OptionsWindow::entry(DrumVoice voice) const {
  return entries_[index(voice)]->text();
}

void OptionsWindow::setEntry(DrumVoice voice, const QString& text) {
  entries_[index(voice)]->setText(text);
}

void OptionsWindow::applyFirstPreset() {
  if (loadSampleIDs_->currentText() != kDesignChooserText) return;
  loadSampleIDs_->setCurrentIndex(0);
  LoadSampleIDs_Click();
}

void OptionsWindow::plus(DrumVoice voice) {
  setEntry(voice, QString::fromStdString(padEntryPlus(entry(voice).toStdString())));
  if (audition_) audition_(keyOfVoice(voice));
}

void OptionsWindow::minus(DrumVoice voice) {
  setEntry(voice, QString::fromStdString(padEntryMinus(entry(voice).toStdString())));
  if (audition_) audition_(keyOfVoice(voice));
}

void OptionsWindow::LoadSampleIDs_Click() {
  const int item = loadSampleIDs_->currentIndex();
  PadMap map;
  if (item == 0 || item == 1) {
    map = presetPadMap(kDrumMachinePresets[static_cast<std::size_t>(item)]);
  } else {
    // A file that has gone or cannot be read keeps the current map (an empty map would
    // play every voice as note 0); one with too few fields gives empty entries.
    const QString path = QDir(folder_).filePath(loadSampleIDs_->currentText());
    QByteArray bytes;
    const QString reason = readWholeFile(path, kMaxPadMapBytes, &bytes);
    if (!reason.isEmpty()) {
      dialogs_.message(this, "The pad map " + path + " could not be read: " + reason + ".");
      return;
    }
    map = parsePadMapFile(decodeDocumentBytes(
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
  }
  for (std::size_t v = 0; v < kVoiceCount; ++v)
    entries_[v]->setText(QString::fromStdString(map[v]));
}

void OptionsWindow::SaveSampleIDs_Click() {
  if (saveDialog_ == nullptr) {
    saveDialog_ = new SaveSettingsDialog(*this, dialogs_, this);
    saveDialog_->setAttribute(Qt::WA_DeleteOnClose);
  }
  saveDialog_->show();
  saveDialog_->raise();
  saveDialog_->activateWindow();
}

void OptionsWindow::tbsOptions_Click() {
  // One tab, one page: the selected tab's page is shown and enabled.
  page_->setEnabled(true);
  page_->setVisible(true);
}

void OptionsWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Tab && (event->modifiers() & Qt::ControlModifier)) {
    tbsOptions_->setCurrentIndex((tbsOptions_->currentIndex() + 1) % tbsOptions_->count());
    tbsOptions_Click();
    return;
  }
  if (event->key() == Qt::Key_Escape) return;  // only OK and Cancel hide the window
  QDialog::keyPressEvent(event);
}

bool OptionsWindow::event(QEvent* event) {
  // Ctrl+Tab would move the focus before keyPressEvent sees it.
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ControlModifier)) {
      keyPressEvent(key);
      return true;
    }
  }
  return QDialog::event(event);
}

void OptionsWindow::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) openedWith_ = padMap();
  QDialog::showEvent(event);
}

void OptionsWindow::padMapFileSaved(const QString& fileName) {
  if (loadSampleIDs_->findText(fileName, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0) {
    loadSampleIDs_->addItem(fileName);
  }
}

void OptionsWindow::closeEvent(QCloseEvent* event) {
  // The entries are the pad map: the close box hides the window instead of discarding it.
  event->ignore();
  hide();
}

SaveSettingsDialog::SaveSettingsDialog(OptionsWindow& options, UserDialogs& dialogs,
                                       QWidget* parent)
    : QDialog(parent), options_(options), dialogs_(dialogs) {
  setWindowTitle("Save Settings");
  setModal(false);
  auto* label = new QLabel("Name settings as", this);
  text1_ = new QLineEdit("User Settings 01", this);
  auto* ok = new QPushButton("OK", this);
  auto* cancel = new QPushButton("Cancel", this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &SaveSettingsDialog::OKButton_Click);
  connect(cancel, &QPushButton::clicked, this, &QWidget::hide);
  auto* layout = new QGridLayout(this);
  layout->addWidget(label, 0, 0);
  layout->addWidget(text1_, 1, 0);
  layout->addWidget(ok, 0, 1);
  layout->addWidget(cancel, 1, 1);
}

void SaveSettingsDialog::OKButton_Click() {
  const QString name = text1_->text();
  if (!isSafePadMapName(name.toStdString())) {
    dialogs_.message(this, "A pad map cannot be saved under the name \"" + name +
                               "\": choose a name without \"/\" that is not \".\" or \"..\".");
    return;
  }
  QDir().mkpath(options_.padMapFolder());
  const QString path = QDir(options_.padMapFolder()).filePath(name + padMapExtension());
  const std::string line = formatPadMapFile(options_.padMap());
  const QString reason =
      writeWholeFile(path, QByteArray(line.data(), static_cast<qsizetype>(line.size())));
  if (!reason.isEmpty()) {
    dialogs_.message(this, "The pad map could not be saved to " + path + ": " + reason + ".");
    return;
  }
  options_.padMapFileSaved(name + padMapExtension());
  // The window stays open; the user closes it.
}

}  // namespace pulsewright
