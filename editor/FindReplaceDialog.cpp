#include "editor/FindReplaceDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>

#include "editor/EditorText.h"
#include "editor/FindReplace.h"
#include "platform/qt/UserDialogs.h"

namespace pulsewright {

FindReplaceDialog::FindReplaceDialog(QPlainTextEdit* editor, UserDialogs& dialogs, QWidget* parent)
    : QDialog(parent), editor_(editor), dialogs_(dialogs) {
  setObjectName(QStringLiteral("Dialog1"));
  setWindowTitle(tr("Find and Replace"));
  setAttribute(Qt::WA_DeleteOnClose);  // the close box; Close only hides

  auto* findLabel = new QLabel(tr("Find"), this);
  findLabel->setObjectName(QStringLiteral("Label1"));
  findText_ = new QLineEdit(this);
  findText_->setObjectName(QStringLiteral("Text1"));
  findLabel->setBuddy(findText_);
  auto* replaceLabel = new QLabel(tr("Replace"), this);
  replaceLabel->setObjectName(QStringLiteral("Label2"));
  replaceText_ = new QLineEdit(this);
  replaceText_->setObjectName(QStringLiteral("Text2"));
  replaceLabel->setBuddy(replaceText_);
  caseSensitive_ = new QCheckBox(tr("Case Sensitive"), this);
  caseSensitive_->setObjectName(QStringLiteral("Check1"));

  auto makeButton = [this](const QString& caption, const char* name) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
  };
  findButton_ = makeButton(tr("Find"), "FindButton");
  findNextButton_ = makeButton(tr("Find Next"), "FindAgainButton");
  replaceButton_ = makeButton(tr("Replace"), "ReplaceButton");
  replaceAllButton_ = makeButton(tr("Replace All"), "ReplaceAllButton");
  closeButton_ = makeButton(tr("Close"), "OKButton");

  auto* fields = new QGridLayout;
  fields->addWidget(findLabel, 0, 0);
  fields->addWidget(findText_, 0, 1);
  fields->addWidget(replaceLabel, 1, 0);
  fields->addWidget(replaceText_, 1, 1);
  fields->addWidget(caseSensitive_, 2, 1);
  findText_->setMinimumWidth(220);

  auto* buttons = new QVBoxLayout;
  for (QPushButton* button :
       {findButton_, findNextButton_, replaceButton_, replaceAllButton_, closeButton_}) {
    buttons->addWidget(button);
  }
  buttons->addStretch();

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(findButton_, &QPushButton::clicked, this, &FindReplaceDialog::find);
  connect(findNextButton_, &QPushButton::clicked, this, &FindReplaceDialog::findNext);
  connect(replaceButton_, &QPushButton::clicked, this, &FindReplaceDialog::replace);
  connect(replaceAllButton_, &QPushButton::clicked, this, &FindReplaceDialog::replaceAll);
  connect(closeButton_, &QPushButton::clicked, this, &QWidget::hide);

  setReplaceEnabled(false);
}

void FindReplaceDialog::showForFind() {
  setReplaceEnabled(false);
  show();
  raise();
  activateWindow();
}

void FindReplaceDialog::reject() {
  hide();
}

Qt::CaseSensitivity FindReplaceDialog::comparison() const {
  return caseSensitive_->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

void FindReplaceDialog::setReplaceEnabled(bool enabled) {
  replaceButton_->setEnabled(enabled);
  replaceAllButton_->setEnabled(enabled);
}

void FindReplaceDialog::searchFrom(qsizetype position) {
  const QString needle = findText_->text();
  const qsizetype at = findMatch(editorText(*editor_), needle, position - 1, comparison());
  matchPos_ = at + 1;
  if (matchPos_ < 1) {
    matchPos_ = 0;
    dialogs_.message(this, tr("No match found."));
    setReplaceEnabled(false);
    return;
  }
  setReplaceEnabled(true);
  QTextCursor cursor(editor_->document());
  cursor.setPosition(static_cast<int>(at));
  cursor.setPosition(static_cast<int>(at + needle.size()), QTextCursor::KeepAnchor);
  editor_->setTextCursor(cursor);
  editor_->ensureCursorVisible();
}

void FindReplaceDialog::find() {
  matchPos_ = 0;
  searchFrom(1);
}

void FindReplaceDialog::findNext() {
  if (matchPos_ < 1) matchPos_ = 0;
  searchFrom(matchPos_ + 1);
}

void FindReplaceDialog::replace() {
  QTextCursor cursor = editor_->textCursor();
  cursor.insertText(replaceText_->text());
  editor_->setTextCursor(cursor);
  findNext();
}

void FindReplaceDialog::replaceAll() {
  matchPos_ = 0;
  const QString before = editorText(*editor_);
  const ReplaceAllResult result =
      replaceAllText(before, findText_->text(), replaceText_->text(), comparison());
  if (result.replacements > 0) {
    // Only the stretch between the common beginning and end changes, as one edit.
    const QString& after = result.text;
    const qsizetype shorter = std::min(before.size(), after.size());
    qsizetype head = 0;
    while (head < shorter && before[head] == after[head]) ++head;
    qsizetype tail = 0;
    while (tail < shorter - head &&
           before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) {
      ++tail;
    }
    // Never split a surrogate pair between the kept and the replaced text.
    if (head > 0 && before[head - 1].isHighSurrogate()) --head;
    if (tail > 0 && before[before.size() - tail].isLowSurrogate()) --tail;
    replaceEditorRange(*editor_, head, before.size() - tail,
                       after.mid(head, after.size() - head - tail));
  }
  setReplaceEnabled(false);
}

}  // namespace pulsewright
