#include "app/ClientArea.h"

#include <QComboBox>
#include <QIcon>
#include <QToolButton>
#include <algorithm>

#include "app/DrumKeyboard.h"
#include "app/StatusLabel.h"
#include "editor/TablatureEditor.h"

namespace pulsewright {

namespace {

struct ButtonSpec {
  const char* name;
  const char* icon;
  int left;
};
constexpr ButtonSpec kButtons[] = {
    {"NewButton", "new", 0},        {"OpenButton", "open", 345},  {"SaveButton", "save", 690},
    {"PrintButton", "print", 1200}, {"FindButton", "find", 1545}, {"Play", "play", 2040},
    {"Pause", "pause", 2385},       {"Stopb", "stop", 2730},
};

constexpr int kEditorLeft = 15;
constexpr int kEditorTop = 330;
constexpr int kEditorRightGap = 45;
constexpr int kMargin = 60;
constexpr int kStripHeight = DrumKeyboard::kHeightTwips + 2 * kMargin;
constexpr int kLabelLeft = 5400;

}  // namespace

ClientArea::ClientArea(std::function<int(int)> twips, QWidget* parent)
    : QWidget(parent), twips_(std::move(twips)) {
  for (const ButtonSpec& spec : kButtons) {
    auto* b = new QToolButton(this);
    b->setObjectName(spec.name);
    b->setIcon(QIcon(QString(":/pulsewright/%1.png").arg(spec.icon)));
    b->setToolTip(spec.name == QString("Stopb") ? "Stop" : QString(spec.name).remove("Button"));
    b->setGeometry(twips_(spec.left), 0, twips_(345), twips_(345));
    buttons_[spec.name] = b;
  }
  label_ = new StatusLabel(this);
  label_->setGeometry(twips_(kLabelLeft), twips_(60), twips_(3945), twips_(270));
  editor_ = new TablatureEditor(this);
  editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
  editor_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  editor_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setMinimumSize(twips_(DrumKeyboard::kWidthTwips + 2 * kEditorLeft),
                 twips_(kEditorTop + kStripHeight));
}

void ClientArea::place(QComboBox* soundDevices, DrumKeyboard* keyboard) {
  soundDevices->setGeometry(twips_(3240), twips_(15), twips_(1845), twips_(315));
  // Tab goes from the buttons to the list, then to the editor, as they stand.
  setTabOrder(buttons_.at("Stopb"), soundDevices);
  setTabOrder(soundDevices, editor_);
  keyboard_ = keyboard;
  layOut();
}

void ClientArea::resizeEvent(QResizeEvent* event) {
  layOut();
  QWidget::resizeEvent(event);
}

void ClientArea::layOut() {
  // A size that would be negative is not applied.
  const int width = this->width() - twips_(kEditorRightGap);
  const int height = this->height() - twips_(kEditorTop) - twips_(kStripHeight);
  const int w = width >= 0 ? width : editor_->width();
  const int h = height >= 0 ? height : editor_->height();
  editor_->setGeometry(twips_(kEditorLeft), twips_(kEditorTop), w, h);
  if (keyboard_ != nullptr) {
    keyboard_->move(twips_(kEditorLeft), twips_(kEditorTop) + h + twips_(kMargin));
  }
  label_->resize(std::max(0, this->width() - twips_(kLabelLeft) - twips_(kMargin)),
                 label_->height());
}

}  // namespace pulsewright
