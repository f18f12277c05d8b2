#include "app/MainMenus.h"

#include <QAction>
#include <QDockWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QToolButton>

#include "editor/EditorCommands.h"
#include "editor/RecentFiles.h"

namespace pulsewright {

namespace {

QAction* addAction(QMenu* menu, ActionMap& actions, const char* name, const char* caption,
                   const QKeySequence& shortcut = {}) {
  QAction* a = menu->addAction(caption);
  a->setObjectName(name);
  if (!shortcut.isEmpty()) {
    a->setShortcut(shortcut);
    a->setShortcutContext(Qt::WindowShortcut);
  }
  actions[name] = a;
  return a;
}

}  // namespace

QMenu* addFileAndEditMenus(QMenuBar* bar, ActionMap& actions) {
  QMenu* file = bar->addMenu("File");
  auto add = [file, &actions](const char* name, const char* caption,
                              const QKeySequence& shortcut = {}) {
    return addAction(file, actions, name, caption, shortcut);
  };
  // Groups: the document, saving, reading other files, writing other files, printing,
  // leaving.
  add("New", "New", QKeySequence("Ctrl+N"));
  add("Open", "Open", QKeySequence("Ctrl+O"));
  QMenu* recent = file->addMenu("Recent");
  recent->setObjectName("Recent");
  file->addSeparator();
  add("Save", "Save", QKeySequence("Ctrl+S"));
  add("SaveAs", "Save As ...");
  file->addSeparator();
  add("Import", "Import...");
  add("ImportDrumTab", "Import Drum Tab...");
  file->addSeparator();
  add("ExportMidi", "Export MIDI...");
  add("ExportMusicXml", "Export MusicXML...");
  add("CopyGrooveScribeLink", "Copy GrooveScribe Link");
  add("ExportAudio", "Export Audio...");
  file->addSeparator();
  add("Print", "Print", QKeySequence("Ctrl+P"));
  add("ExportPdf", "Export PDF...");
  // The song as drum staves, beside the text's Print and Export PDF.
  add("PrintStaves", "Print Drum Staves...");
  add("ExportStavesPdf", "Export PDF as Drum Staves...");
  file->addSeparator();
  add("Exit", "Exit", QKeySequence("Ctrl+Q"));

  QMenu* edit = bar->addMenu("Edit");
  addAction(edit, actions, "Undo", "Undo", QKeySequence::Undo);
  addAction(edit, actions, "Redo", "Redo", QKeySequence::Redo);
  edit->addSeparator();
  addAction(edit, actions, "Cut", "Cut", QKeySequence("Ctrl+X"));
  addAction(edit, actions, "Copy", "Copy", QKeySequence("Ctrl+C"));
  addAction(edit, actions, "Paste", "Paste", QKeySequence("Ctrl+V"));
  addAction(edit, actions, "PasteDrumTab", "Paste as Drum Tab");
  edit->addSeparator();
  addAction(edit, actions, "SelectAll", "Select All", QKeySequence("Ctrl+A"));
  addAction(edit, actions, "SelectNone", "Select None", QKeySequence("Ctrl+D"));
  edit->addSeparator();
  addAction(edit, actions, "Find", "Find", QKeySequence("Ctrl+F"));
  // The panels' Show toggles follow (dockUnderEditor).
  edit->addSeparator();

  // How the editor looks, apart from the document's own commands.
  QMenu* appearance = bar->addMenu("Appearance");
  appearance->setObjectName("Appearance");
  addAction(appearance, actions, "Foreground", "Foreground");
  addAction(appearance, actions, "Background", "Background");
  appearance->addSeparator();
  addAction(appearance, actions, "Font", "Font");
  return recent;
}

void addSettingsMenu(QMenuBar* bar, ActionMap& actions) {
  QMenu* settings = bar->addMenu("Settings");
  addAction(settings, actions, "Options", "Pad Assignment");
  addAction(settings, actions, "Kit", "Kit");
  addAction(settings, actions, "Templates", "Templates");
}

void addHelpMenu(QMenuBar* bar, ActionMap& actions) {
  QMenu* help = bar->addMenu("Help");
  help->setObjectName("Help");
  addAction(help, actions, "LanguageReference", "Language Reference", QKeySequence::HelpContents);
  addAction(help, actions, "DrumNames", "Drum Names");
  help->addSeparator();
  addAction(help, actions, "About", "About Pulsewright");
}

void wireEditorCommands(EditorCommands& editor, QPlainTextEdit* text, const ActionMap& actions,
                        const ButtonMap& buttons) {
  auto wire = [&](const char* actionName, const char* buttonName, auto slot) {
    if (actionName != nullptr) {
      QObject::connect(actions.at(actionName), &QAction::triggered, &editor, slot);
    }
    if (buttonName != nullptr) {
      QObject::connect(buttons.at(buttonName), &QToolButton::clicked, &editor, slot);
    }
  };
  wire("New", "NewButton", &EditorCommands::newDocument);
  wire("Open", "OpenButton", &EditorCommands::open);
  wire("Save", "SaveButton", &EditorCommands::save);
  wire("SaveAs", nullptr, &EditorCommands::saveAs);
  wire("ExportPdf", nullptr, &EditorCommands::exportPdf);
  wire("Foreground", nullptr, &EditorCommands::foreground);
  wire("Background", nullptr, &EditorCommands::background);
  wire("Font", nullptr, &EditorCommands::chooseFont);
  wire("SelectAll", nullptr, &EditorCommands::selectAll);
  wire("SelectNone", nullptr, &EditorCommands::selectNone);
  wire("Cut", nullptr, &EditorCommands::cut);
  wire("Copy", nullptr, &EditorCommands::copy);
  wire("Paste", nullptr, &EditorCommands::paste);
  wire("Find", "FindButton", &EditorCommands::find);
  wire("Undo", nullptr, &EditorCommands::undo);
  wire("Redo", nullptr, &EditorCommands::redo);
  QAction* undo = actions.at("Undo");
  QAction* redo = actions.at("Redo");
  undo->setEnabled(false);
  redo->setEnabled(false);
  QObject::connect(text, &QPlainTextEdit::undoAvailable, undo, &QAction::setEnabled);
  QObject::connect(text, &QPlainTextEdit::redoAvailable, redo, &QAction::setEnabled);
}

QDockWidget* dockUnderEditor(QMainWindow& window, QWidget* panel, const QString& title,
                             const QString& name, QAction* editAction, ActionMap& actions) {
  auto* dock = new QDockWidget(title, &window);
  dock->setObjectName(name + "Dock");
  dock->setWidget(panel);
  dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
  window.addDockWidget(Qt::BottomDockWidgetArea, dock);
  QAction* show = dock->toggleViewAction();
  show->setObjectName("Show" + name);
  actions["Show" + name] = show;
  if (auto* edit = qobject_cast<QMenu*>(editAction->parent())) edit->addAction(show);
  return dock;
}

}  // namespace pulsewright
