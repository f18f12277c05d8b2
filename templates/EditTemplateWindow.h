#pragma once
// The Edit Template window "EditTemplate": one template's name and text. The Templates
// window sets EditMode (and OldName when editing) before it shows it; OK stores.

#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace pulsewright {

class TemplatesController;

class EditTemplateWindow : public QWidget {
  Q_OBJECT

 public:
  enum Mode : qint16 { kNothingPending = 0, kAdding = 1, kEditing = 2 };

  // Starts with empty boxes; the text box takes the main editor's font name.
  EditTemplateWindow(TemplatesController& controller, QWidget* parent);

  qint16 EditMode = kNothingPending;
  QString OldName;

  QString name() const;
  void setName(const QString& name);
  // The text with CR LF line ends, as templates are stored.
  QString text() const;
  void setText(const QString& text);

  void OKButton_Click();
  void CancelButton_Click();

 private:
  TemplatesController& controller_;
  QLabel* Label1;
  QLineEdit* xName;
  QPlainTextEdit* TemplateText;
  QPushButton* OKButton;
  QPushButton* CancelButton;
};

}  // namespace pulsewright
