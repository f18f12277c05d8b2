#pragma once
// The Templates window "mTemplates": lists the stored templates, then the shipped ones,
// and inserts, adds, edits and deletes them (a shipped one is not deleted). A single modeless
// instance owned by TemplatesController.

#include <QString>
#include <QWidget>

class QListWidget;
class QPushButton;

namespace pulsewright {

class TemplatesController;

class TemplatesWindow : public QWidget {
  Q_OBJECT

 public:
  // Reads the stored list into the list box.
  TemplatesWindow(TemplatesController& controller, QWidget* parent);

  // The text of the selected entry; empty with none selected.
  QString selectedName() const;

  // Called by the Edit Template window once its OK has stored a template.
  void templateAdded(const QString& name);
  void templateReplaced(const QString& oldName, const QString& newName);

  void Insert_Click();
  void Add_Click();
  void Edit_Click();
  void Delete_Click();
  void OK_Click();

 private:
  TemplatesController& controller_;
  QListWidget* TemplateList;
  QPushButton* Add;
  QPushButton* Delete;
  QPushButton* Edit;
  QPushButton* Insert;
  QPushButton* OK;
};

}  // namespace pulsewright
