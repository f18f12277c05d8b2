#pragma once
// The Find and Replace window (Dialog1): searches the editor text for a literal string,
// selects each match in the editor and replaces matches one at a time or all at once.
// Its Close button and Escape hide it so that it keeps its texts and last match; its
// close box destroys it.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace pulsewright {

class UserDialogs;

class FindReplaceDialog : public QDialog {
  Q_OBJECT

 public:
  FindReplaceDialog(QPlainTextEdit* editor, UserDialogs& dialogs, QWidget* parent);

  // Disables Replace and Replace All, then shows the window or brings it forward.
  void showForFind();

  // The position of the last match, counted from 1; 0 when there is none.
  qsizetype matchPos() const { return matchPos_; }

  QLineEdit* findEdit() const { return findText_; }
  QLineEdit* replaceEdit() const { return replaceText_; }
  QCheckBox* caseSensitiveBox() const { return caseSensitive_; }
  QPushButton* findButton() const { return findButton_; }
  QPushButton* findNextButton() const { return findNextButton_; }
  QPushButton* replaceButton() const { return replaceButton_; }
  QPushButton* replaceAllButton() const { return replaceAllButton_; }
  QPushButton* closeButton() const { return closeButton_; }

 public slots:
  void find();
  void findNext();
  void replace();
  void replaceAll();

 protected:
  // Escape: hidden like Close, not destroyed like the close box.
  void reject() override;

 private:
  void searchFrom(qsizetype position);
  void setReplaceEnabled(bool enabled);
  Qt::CaseSensitivity comparison() const;

  QPlainTextEdit* editor_;
  UserDialogs& dialogs_;
  qsizetype matchPos_ = 0;

  QLineEdit* findText_;
  QLineEdit* replaceText_;
  QCheckBox* caseSensitive_;
  QPushButton* findButton_;
  QPushButton* findNextButton_;
  QPushButton* replaceButton_;
  QPushButton* replaceAllButton_;
  QPushButton* closeButton_;
};

}  // namespace pulsewright
