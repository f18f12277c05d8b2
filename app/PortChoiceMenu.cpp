#include "app/PortChoiceMenu.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <algorithm>

namespace pulsewright {

void fillPortChoices(QMenu* menu, const PortChoices& choices,
                     const std::function<void(const std::string&)>& choose) {
  menu->clear();
  auto* group = new QActionGroup(menu);
  auto add = [&](const QString& caption, const std::string& name) {
    QAction* action = menu->addAction(caption);
    action->setCheckable(true);
    action->setChecked(name == choices.chosen);
    group->addAction(action);
    QObject::connect(action, &QAction::triggered, menu, [choose, name] { choose(name); });
  };
  if (!choices.noneCaption.isEmpty()) add(choices.noneCaption, "");
  for (const std::string& name : choices.names) add(QString::fromStdString(name), name);
  const auto& names = choices.names;
  if (!choices.chosen.empty() &&
      std::find(names.begin(), names.end(), choices.chosen) == names.end()) {
    menu->addAction(QString::fromStdString(choices.chosen + " (not there)"))->setEnabled(false);
  }
  if (menu->isEmpty() && !choices.emptyCaption.isEmpty()) {
    menu->addAction(choices.emptyCaption)->setEnabled(false);
  }
}

}  // namespace pulsewright
