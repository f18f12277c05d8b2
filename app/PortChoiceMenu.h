#pragma once
// A menu of ports to choose one from, listed afresh each time it opens: one checkable
// entry per port, the chosen one checked. A chosen port that is not there now stays
// listed, disabled, so that a menu opened while it is away does not lose the choice.

#include <QString>
#include <functional>
#include <string>
#include <vector>

class QMenu;

namespace pulsewright {

struct PortChoices {
  std::vector<std::string> names;  // as the system lists them now
  std::string chosen;              // empty: none
  QString noneCaption;             // an entry that chooses none first; empty: no such entry
  QString emptyCaption;            // shown, disabled, when nothing else is listed
};

// Fills `menu` anew; a click on an entry calls `choose` with its name ("" for none).
void fillPortChoices(QMenu* menu, const PortChoices& choices,
                     const std::function<void(const std::string&)>& choose);

}  // namespace pulsewright
