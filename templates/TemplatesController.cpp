#include "templates/TemplatesController.h"

#include "templates/EditTemplateWindow.h"
#include "templates/TemplateTarget.h"
#include "templates/TemplatesWindow.h"

namespace pulsewright {

TemplatesController::TemplatesController(TemplateTarget& target, SettingsStore& settings,
                                         UserDialogs& dialogs, QWidget* owner)
    : target_(target), dialogs_(dialogs), store_(settings), owner_(owner) {}

TemplatesController::TemplatesController(QPlainTextEdit& editor, SettingsStore& settings,
                                         UserDialogs& dialogs, QWidget* owner)
    : ownTarget_(std::make_unique<PlainTextEditTarget>(editor)),
      target_(*ownTarget_),
      dialogs_(dialogs),
      store_(settings),
      owner_(owner) {}

TemplatesController::~TemplatesController() {
  closeWindows();
}

TemplatesWindow* TemplatesController::templatesWindow() const {
  return templates_.data();
}

EditTemplateWindow* TemplatesController::editTemplateWindow() const {
  return editTemplate_.data();
}

void TemplatesController::showTemplates() {
  if (!templates_) {
    templates_ = new TemplatesWindow(*this, owner_);
    // The close box destroys the window; the next use loads it anew.
    templates_->setAttribute(Qt::WA_DeleteOnClose);
  }
  templates_->show();
  templates_->raise();
  templates_->activateWindow();
}

EditTemplateWindow& TemplatesController::loadEditTemplate() {
  if (!editTemplate_) {
    editTemplate_ = new EditTemplateWindow(*this, owner_);
    editTemplate_->setAttribute(Qt::WA_DeleteOnClose);
  }
  return *editTemplate_;
}

void TemplatesController::closeWindows() {
  delete editTemplate_.data();
  delete templates_.data();
}

}  // namespace pulsewright
