#include "templates/EditTemplateWindow.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

#include "platform/qt/Twips.h"
#include "platform/qt/UserDialogs.h"
#include "templates/TemplateTarget.h"
#include "templates/TemplatesController.h"
#include "templates/TemplatesWindow.h"

namespace pulsewright {

EditTemplateWindow::EditTemplateWindow(TemplatesController& controller, QWidget* parent)
    : QWidget(parent, Qt::Dialog), controller_(controller) {
  setObjectName(QStringLiteral("EditTemplate"));
  setWindowTitle(QStringLiteral("Edit Template"));
  setFixedSize(twips::size(6030, 3195));

  Label1 = new QLabel(QStringLiteral("Name"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(twips::rect(60, 45, 495, 225));
  xName = new QLineEdit(this);
  xName->setObjectName(QStringLiteral("xName"));
  xName->setGeometry(twips::rect(615, 15, 3960, 315));
  TemplateText = new QPlainTextEdit(this);
  TemplateText->setObjectName(QStringLiteral("TemplateText"));
  TemplateText->setGeometry(twips::rect(15, 375, 4575, 2775));
  TemplateText->setLineWrapMode(QPlainTextEdit::NoWrap);
  TemplateText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  TemplateText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont font = TemplateText->font();
  font.setFamily(controller_.target().editorFontFamily());
  TemplateText->setFont(font);
  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setGeometry(twips::rect(4680, 105, 1215, 375));
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setGeometry(twips::rect(4680, 600, 1215, 375));

  connect(OKButton, &QPushButton::clicked, this, &EditTemplateWindow::OKButton_Click);
  connect(CancelButton, &QPushButton::clicked, this, &EditTemplateWindow::CancelButton_Click);
}

QString EditTemplateWindow::name() const {
  return xName->text();
}

void EditTemplateWindow::setName(const QString& name) {
  xName->setText(name);
}

QString EditTemplateWindow::text() const {
  // The raw text keeps no-break spaces, which toPlainText() would turn into spaces.
  QString text = TemplateText->document()->toRawText();
  text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
  return text;
}

void EditTemplateWindow::setText(const QString& text) {
  TemplateText->setPlainText(text);
}

void EditTemplateWindow::OKButton_Click() {
  const QString newName = name();
  if (!newName.isEmpty() && (EditMode == kAdding || EditMode == kEditing)) {
    // A refused name or a failed write keeps the window open with its mode, so the user
    // can correct the name or try again without losing the text.
    const QString refusal = TemplateStore::refusal(newName);
    if (!refusal.isEmpty()) {
      controller_.dialogs().message(this, refusal);
      return;
    }
    TemplateStore& store = controller_.store();
    const bool adding = EditMode == kAdding;
    // Another template of that name would be overwritten: only when the user says so.
    // No keeps this window open with its text.
    if ((adding || newName != OldName) && store.contains(newName) &&
        !controller_.dialogs().askYesNo(
            this, QStringLiteral("Replace the template \"%1\"?").arg(newName))) {
      return;
    }
    if (!(adding ? store.add(newName, text()) : store.replace(OldName, newName, text()))) {
      controller_.dialogs().message(
          this, QStringLiteral("The template \"%1\" could not be saved to the settings file.")
                    .arg(newName));
      return;
    }
    if (TemplatesWindow* list = controller_.templatesWindow()) {
      if (adding) {
        list->templateAdded(newName);
      } else {
        list->templateReplaced(OldName, newName);
      }
    }
  }
  hide();
  EditMode = kNothingPending;
}

void EditTemplateWindow::CancelButton_Click() {
  hide();
}

}  // namespace pulsewright
