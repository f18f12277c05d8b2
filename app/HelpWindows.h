#pragma once
// The Help menu's windows: the language reference, searchable, and the list of drum
// names with the notes of the pad map in use.

#include <QList>
#include <QString>
#include <QTextCursor>
#include <QWidget>

#include "padmap/PadMap.h"

class QLabel;
class QLineEdit;
class QTableWidget;
class QTextBrowser;
class QTextDocument;

namespace pulsewright {

// The built-in language reference, in Markdown (docs/language.md).
QString languageReferenceText();

// Where a phrase occurs in a document, case-insensitively, and which of those places is
// the current one; next() and previous() go round.
class ReferenceSearch {
 public:
  // Finds every place; the current one is the first. An empty phrase finds none.
  void search(const QTextDocument& document, const QString& phrase);
  const QList<QTextCursor>& matches() const { return matches_; }
  // -1 with no matches.
  int current() const { return matches_.isEmpty() ? -1 : current_; }
  QTextCursor currentMatch() const {
    return matches_.isEmpty() ? QTextCursor() : matches_[current_];
  }
  void next();
  void previous();

 private:
  QList<QTextCursor> matches_;
  int current_ = 0;
};

// Help > Language Reference: the reference above a find field. Typing highlights every
// place the phrase occurs and shows the first; Enter goes to the next, Shift+Enter back.
class LanguageReferenceWindow : public QWidget {
  Q_OBJECT
 public:
  explicit LanguageReferenceWindow(QWidget* parent = nullptr);

  QTextBrowser* browser() const { return browser_; }
  QLineEdit* findField() const { return find_; }
  // "2 of 5", "Not found", or empty with nothing to find.
  QString findResult() const;
  const ReferenceSearch& search() const { return search_; }

  void findNext();
  void findPrevious();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void searchFor(const QString& phrase);
  void showMatches();

  QTextBrowser* browser_;
  QLineEdit* find_;
  QLabel* result_;
  ReferenceSearch search_;
};

// Help > Drum Names: each voice with the names a voice line may give it, the symbols
// conventionally used and the note it plays.
class DrumNamesWindow : public QWidget {
  Q_OBJECT
 public:
  explicit DrumNamesWindow(QWidget* parent = nullptr);
  // The notes of `padMap`, the map in use.
  void showNotes(const PadMap& padMap);
  QTableWidget* table() const { return table_; }

 private:
  QTableWidget* table_;
};

}  // namespace pulsewright
