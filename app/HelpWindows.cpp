#include "app/HelpWindows.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

#include "padmap/DrumVoice.h"

namespace pulsewright {

QString languageReferenceText() {
  QFile file(QStringLiteral(":/pulsewright/language.md"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

void ReferenceSearch::search(const QTextDocument& document, const QString& phrase) {
  matches_.clear();
  current_ = 0;
  if (phrase.isEmpty()) return;
  for (QTextCursor at = document.find(phrase); !at.isNull(); at = document.find(phrase, at)) {
    matches_.append(at);
  }
}

void ReferenceSearch::next() {
  if (!matches_.isEmpty()) current_ = (current_ + 1) % static_cast<int>(matches_.size());
}

void ReferenceSearch::previous() {
  if (!matches_.isEmpty()) {
    const int count = static_cast<int>(matches_.size());
    current_ = (current_ + count - 1) % count;
  }
}

LanguageReferenceWindow::LanguageReferenceWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      browser_(new QTextBrowser(this)),
      find_(new QLineEdit(this)),
      result_(new QLabel(this)) {
  setObjectName(QStringLiteral("LanguageReference"));
  setWindowTitle(tr("Language Reference"));
  browser_->setObjectName(QStringLiteral("ReferenceText"));
  browser_->setMarkdown(languageReferenceText());
  find_->setObjectName(QStringLiteral("ReferenceFind"));
  find_->setPlaceholderText(tr("Find in the reference"));
  find_->setClearButtonEnabled(true);
  find_->installEventFilter(this);
  auto* findRow = new QHBoxLayout;
  findRow->addWidget(new QLabel(tr("Find:"), this));
  findRow->addWidget(find_, 1);
  findRow->addWidget(result_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(findRow);
  layout->addWidget(browser_, 1);
  connect(find_, &QLineEdit::textChanged, this, &LanguageReferenceWindow::searchFor);
  resize(760, 680);
}

QString LanguageReferenceWindow::findResult() const {
  return result_->text();
}

bool LanguageReferenceWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == find_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      (key->modifiers() & Qt::ShiftModifier) ? findPrevious() : findNext();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void LanguageReferenceWindow::searchFor(const QString& phrase) {
  search_.search(*browser_->document(), phrase);
  showMatches();
}

void LanguageReferenceWindow::findNext() {
  search_.next();
  showMatches();
}

void LanguageReferenceWindow::findPrevious() {
  search_.previous();
  showMatches();
}

void LanguageReferenceWindow::showMatches() {
  // Every place in yellow, the current one selected and scrolled into view.
  QList<QTextEdit::ExtraSelection> marks;
  for (const QTextCursor& match : search_.matches()) {
    QTextEdit::ExtraSelection mark;
    mark.cursor = match;
    mark.format.setBackground(QColor(255, 230, 90));
    mark.format.setForeground(Qt::black);
    marks.append(mark);
  }
  browser_->setExtraSelections(marks);
  if (search_.current() < 0) {
    // The match of a shorter phrase typed before must not stay selected.
    QTextCursor cursor = browser_->textCursor();
    cursor.clearSelection();
    browser_->setTextCursor(cursor);
    result_->setText(find_->text().isEmpty() ? QString() : tr("Not found"));
    return;
  }
  browser_->setTextCursor(search_.currentMatch());
  browser_->ensureCursorVisible();
  result_->setText(tr("%1 of %2").arg(search_.current() + 1).arg(search_.matches().size()));
}

DrumNamesWindow::DrumNamesWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), table_(new QTableWidget(kVoiceCount, 4, this)) {
  setObjectName(QStringLiteral("DrumNames"));
  setWindowTitle(tr("Drum Names"));
  table_->setObjectName(QStringLiteral("DrumNamesTable"));
  table_->setHorizontalHeaderLabels(
      {tr("Voice"), tr("Names in a voice line"), tr("Symbols"), tr("Note")});
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const int row = static_cast<int>(v);
    auto cell = [](std::string_view text) {
      return new QTableWidgetItem(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
    };
    table_->setItem(row, 0, cell(kVoiceCaptions[v]));
    table_->setItem(row, 1, cell(kVoiceNames[v]));
    table_->setItem(row, 2, cell(kVoiceSymbols[v]));
  }
  showNotes(defaultPadMap());
  table_->resizeColumnsToContents();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("A voice line binds a symbol to a voice: k = kick drum. "
                                  "The note is the pad map's (Settings > Pad Assignment)."),
                               this));
  layout->addWidget(table_, 1);
  resize(720, 560);
}

void DrumNamesWindow::showNotes(const PadMap& padMap) {
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    table_->setItem(static_cast<int>(v), 3,
                    new QTableWidgetItem(QString::fromStdString(padMap[v])));
  }
}

}  // namespace pulsewright
