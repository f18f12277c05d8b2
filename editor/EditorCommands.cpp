#include "editor/EditorCommands.h"

#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTextDocument>

#include "editor/AppearanceCommands.h"
#include "editor/DocumentCommands.h"
#include "editor/EditCommands.h"
#include "editor/EditorText.h"
#include "editor/RecentFiles.h"

namespace pulsewright {

EditorCommands::EditorCommands(QPlainTextEdit* editor, QWidget* parentWindow, UserDialogs& dialogs,
                               SettingsStore& settings, QObject* parent)
    : QObject(parent),
      editor_(editor),
      documents_(new DocumentCommands(editor, parentWindow, dialogs, this)),
      editing_(new EditCommands(editor, parentWindow, dialogs, this)),
      appearance_(new AppearanceCommands(editor, parentWindow, dialogs, settings, this)),
      recent_(new RecentFiles(settings, this)) {
  connect(documents_, &DocumentCommands::fileNameChanged, this, [this](const QString& path) {
    recent_->add(path);
    emit titleChanged();
  });
  connect(editor_, &QPlainTextEdit::modificationChanged, this, &EditorCommands::titleChanged);
  connect(recent_, &RecentFiles::openRequested, this, &EditorCommands::openRecent);
}

QString EditorCommands::documentTitle(const QString& appTitle) const {
  const QString path = documents_->currentFileName();
  const bool changed = editor_->document()->isModified();
  if (path.isEmpty() && !changed) return appTitle;
  QString name = path.isEmpty() ? documents_->untitledName() : QFileInfo(path).fileName();
  if (name.isEmpty()) name = tr("Untitled");
  return name + (changed ? QStringLiteral("*") : QString()) + QStringLiteral(" - ") + appTitle;
}

void EditorCommands::undo() {
  editor_->undo();
}
void EditorCommands::redo() {
  editor_->redo();
}

void EditorCommands::openRecent(const QString& path) {
  if (!documents_->maybeSave()) return;
  if (!documents_->openFile(path)) recent_->remove(path);
}

bool EditorCommands::maybeSave() {
  return documents_->maybeSave();
}
QString EditorCommands::fontFamily() const {
  return appearance_->fontFamily();
}
QString EditorCommands::documentText() const {
  return editorTextToRead(*editor_);
}

void EditorCommands::newDocument() {
  documents_->newDocument();
}
void EditorCommands::open() {
  documents_->open();
}
bool EditorCommands::save() {
  return documents_->save();
}
bool EditorCommands::saveAs() {
  return documents_->saveAs();
}
void EditorCommands::print() {
  documents_->print(fontFamily());
}
void EditorCommands::exportPdf() {
  documents_->exportPdf(fontFamily());
}

void EditorCommands::selectAll() {
  editing_->selectAll();
}
void EditorCommands::selectNone() {
  editing_->selectNone();
}
void EditorCommands::cut() {
  editing_->cut();
}
void EditorCommands::copy() {
  editing_->copy();
}
void EditorCommands::paste() {
  editing_->paste();
}
void EditorCommands::find() {
  editing_->find();
}

void EditorCommands::foreground() {
  appearance_->foreground();
}
void EditorCommands::background() {
  appearance_->background();
}
void EditorCommands::chooseFont() {
  appearance_->chooseFont();
}
void EditorCommands::applyStoredAppearance() {
  appearance_->applyStoredAppearance();
}

}  // namespace pulsewright
