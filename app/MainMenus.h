#pragma once
// The File, Edit, Appearance, Settings and Help menus of the main window, the editor's commands
// wired to them and to the picture buttons, and the panels docked under the editor.

#include <QString>
#include <map>

class QAction;
class QDockWidget;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QToolButton;
class QWidget;

namespace pulsewright {

class EditorCommands;

using ActionMap = std::map<QString, QAction*>;
using ButtonMap = std::map<QString, QToolButton*>;

// Adds the File, Edit and Appearance menus to `bar`, each action into `actions` under
// its object name. Returns File's Recent menu.
QMenu* addFileAndEditMenus(QMenuBar* bar, ActionMap& actions);
// Adds the Settings menu.
void addSettingsMenu(QMenuBar* bar, ActionMap& actions);
// Adds the Help menu: Language Reference, Drum Names, About Pulsewright.
void addHelpMenu(QMenuBar* bar, ActionMap& actions);

// The editor's commands on their menu entries and buttons; Undo and Redo follow what
// `text` can undo and redo.
void wireEditorCommands(EditorCommands& editor, QPlainTextEdit* text, const ActionMap& actions,
                        const ButtonMap& buttons);

// Docks `panel` under the editor as `title`; its Show toggle joins the Edit menu (the
// menu of `editAction`) and `actions` as `name` without "Dock".
QDockWidget* dockUnderEditor(QMainWindow& window, QWidget* panel, const QString& title,
                             const QString& name, QAction* editAction, ActionMap& actions);

}  // namespace pulsewright
