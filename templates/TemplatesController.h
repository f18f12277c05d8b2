#pragma once
// Owns the two template windows for the main window: creates each on first use, shows
// the Templates window on the Templates command and destroys both at exit.
//
// Wiring in the main window:
//   templates_ = std::make_unique<TemplatesController>(*text1_, settings, dialogs, this);
//   connect(templatesAction, &QAction::triggered, [this] { templates_->showTemplates(); });
// and templates_->closeWindows() when the main window closes.

#include <QPointer>
#include <memory>

#include "templates/TemplateStore.h"

class QPlainTextEdit;
class QWidget;

namespace pulsewright {

class EditTemplateWindow;
class SettingsStore;
class TemplateTarget;
class TemplatesWindow;
class UserDialogs;

class TemplatesController {
 public:
  // `owner` (the main window, may be null) parents both windows, which stay separate
  // top-level windows above it.
  TemplatesController(TemplateTarget& target, SettingsStore& settings, UserDialogs& dialogs,
                      QWidget* owner = nullptr);
  // The same, inserting into a plain-text editor widget.
  TemplatesController(QPlainTextEdit& editor, SettingsStore& settings, UserDialogs& dialogs,
                      QWidget* owner = nullptr);
  ~TemplatesController();
  TemplatesController(const TemplatesController&) = delete;
  TemplatesController& operator=(const TemplatesController&) = delete;

  // Settings > Templates: shows the Templates window, loading it (and its list) the first
  // time and again after its close box destroyed it.
  void showTemplates();
  // Destroys both windows, as at exit.
  void closeWindows();

  // The windows while they exist; null before first use and after their close box.
  TemplatesWindow* templatesWindow() const;
  EditTemplateWindow* editTemplateWindow() const;

  // For the windows themselves.
  EditTemplateWindow& loadEditTemplate();
  TemplateStore& store() { return store_; }
  TemplateTarget& target() { return target_; }
  UserDialogs& dialogs() { return dialogs_; }

 private:
  std::unique_ptr<TemplateTarget> ownTarget_;
  TemplateTarget& target_;
  UserDialogs& dialogs_;
  TemplateStore store_;
  QWidget* owner_;
  QPointer<TemplatesWindow> templates_;
  QPointer<EditTemplateWindow> editTemplate_;
};

}  // namespace pulsewright
