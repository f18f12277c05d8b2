#include "templates/TemplatesWindow.h"

#include <QListWidget>
#include <QPushButton>

#include "platform/qt/Twips.h"
#include "platform/qt/UserDialogs.h"
#include "templates/EditTemplateWindow.h"
#include "templates/TemplateTarget.h"
#include "templates/TemplatesController.h"

namespace pulsewright {

namespace {

QPushButton* makeButton(QWidget* parent, const char* objectName, const QString& caption,
                        const QRect& geometry) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(objectName));
  button->setGeometry(geometry);
  return button;
}

}  // namespace

TemplatesWindow::TemplatesWindow(TemplatesController& controller, QWidget* parent)
    : QWidget(parent, Qt::Window), controller_(controller) {
  setObjectName(QStringLiteral("mTemplates"));
  setWindowTitle(QStringLiteral("Templates"));
  setFixedSize(twips::size(2685, 4260));

  TemplateList = new QListWidget(this);
  TemplateList->setObjectName(QStringLiteral("TemplateList"));
  TemplateList->setGeometry(twips::rect(0, 0, 2670, 3375));
  TemplateList->setSelectionMode(QAbstractItemView::SingleSelection);
  Add = makeButton(this, "Add", QStringLiteral("Add"), twips::rect(0, 3420, 1305, 375));
  Delete = makeButton(this, "Delete", QStringLiteral("Delete"), twips::rect(1335, 3420, 1335, 375));
  Edit = makeButton(this, "Edit", QStringLiteral("Edit"), twips::rect(0, 3825, 795, 390));
  Insert = makeButton(this, "Insert", QStringLiteral("Insert"), twips::rect(825, 3825, 1035, 390));
  OK = makeButton(this, "OK", QStringLiteral("Done"), twips::rect(1905, 3825, 765, 390));

  connect(Insert, &QPushButton::clicked, this, &TemplatesWindow::Insert_Click);
  connect(Add, &QPushButton::clicked, this, &TemplatesWindow::Add_Click);
  connect(Edit, &QPushButton::clicked, this, &TemplatesWindow::Edit_Click);
  connect(Delete, &QPushButton::clicked, this, &TemplatesWindow::Delete_Click);
  connect(OK, &QPushButton::clicked, this, &TemplatesWindow::OK_Click);

  TemplateList->addItems(controller_.store().listEntries());
  // The program's own templates follow the user's.
  TemplateList->addItems(controller_.store().shippedNames());
}

QString TemplatesWindow::selectedName() const {
  const QList<QListWidgetItem*> selected = TemplateList->selectedItems();
  return selected.isEmpty() ? QString() : selected.first()->text();
}

void TemplatesWindow::Insert_Click() {
  const QString name = selectedName();
  if (name.isEmpty()) return;
  controller_.target().replaceSelection(controller_.store().text(name));
}

void TemplatesWindow::Add_Click() {
  EditTemplateWindow& editor = controller_.loadEditTemplate();
  editor.EditMode = EditTemplateWindow::kAdding;
  editor.show();
  editor.raise();
  editor.activateWindow();
}

void TemplatesWindow::Edit_Click() {
  const QString name = selectedName();
  if (name.isEmpty()) return;
  EditTemplateWindow& editor = controller_.loadEditTemplate();
  editor.EditMode = EditTemplateWindow::kEditing;
  editor.OldName = name;
  editor.setName(name);
  editor.setText(controller_.store().text(name));
  editor.show();
  editor.raise();
  editor.activateWindow();
}

void TemplatesWindow::Delete_Click() {
  const QString name = selectedName();
  if (name.isEmpty()) return;
  if (controller_.store().isShipped(name)) {
    controller_.dialogs().message(
        this,
        QStringLiteral("The template \"%1\" comes with Pulsewright and cannot be deleted. Edit "
                       "makes a copy of your own.")
            .arg(name));
    return;
  }
  if (!controller_.store().remove(name)) {
    controller_.dialogs().message(
        this, QStringLiteral("The template \"%1\" could not be deleted from the settings file.")
                  .arg(name));
    return;
  }
  delete TemplateList->takeItem(TemplateList->row(TemplateList->selectedItems().first()));
  // Nothing is selected afterwards, so a second Delete cannot take a neighbour unseen.
  TemplateList->clearSelection();
  TemplateList->setCurrentItem(nullptr);
}

void TemplatesWindow::OK_Click() {
  hide();
}

void TemplatesWindow::templateAdded(const QString& name) {
  // A template that was replaced leaves its old entry; the list names each once.
  for (QListWidgetItem* old : TemplateList->findItems(name, Qt::MatchExactly)) delete old;
  TemplateList->addItem(name);
}

void TemplatesWindow::templateReplaced(const QString& oldName, const QString& newName) {
  // The entry that was edited keeps its place. Since both windows are modeless, the
  // selection may have moved on since Edit was pressed: the entry is found by its name,
  // the selected one first.
  QListWidgetItem* entry = nullptr;
  const QList<QListWidgetItem*> selected = TemplateList->selectedItems();
  if (!selected.isEmpty() && selected.first()->text() == oldName) {
    entry = selected.first();
  } else {
    const QList<QListWidgetItem*> found = TemplateList->findItems(oldName, Qt::MatchExactly);
    if (!found.isEmpty()) entry = found.first();
  }
  if (newName != oldName) {
    for (QListWidgetItem* other : TemplateList->findItems(newName, Qt::MatchExactly)) {
      if (other != entry) delete other;
    }
  }
  if (entry) {
    entry->setText(newName);
  } else {
    // Deleted while it was being edited: OK has stored it again.
    TemplateList->addItem(newName);
  }
}

}  // namespace pulsewright
