#include "app/TransportBar.h"

#include <QAction>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <cmath>

namespace pulsewright {

BarBeat barBeatOf(int step, double noteSize) {
  if (step < 0 || !(noteSize > 0)) return {};
  // A beat is a quarter note: noteSize / 4 steps.
  const auto beats = static_cast<long long>(std::floor(step * 4.0 / noteSize + 1e-9));
  return {static_cast<int>(beats / 4) + 1, static_cast<int>(beats % 4) + 1};
}

std::optional<double> TapTempo::tap(std::chrono::steady_clock::time_point now) {
  constexpr auto kRestart = std::chrono::seconds(2);
  constexpr std::size_t kKept = 5;
  if (!taps_.empty() && (now - taps_.back() > kRestart || now <= taps_.back())) taps_.clear();
  taps_.push_back(now);
  if (taps_.size() > kKept) taps_.erase(taps_.begin());
  if (taps_.size() < 2) return std::nullopt;
  const std::chrono::duration<double> span = taps_.back() - taps_.front();
  return 60.0 * static_cast<double>(taps_.size() - 1) / span.count();
}

TransportBar::TransportBar(const QList<QAction*>& transport, const QList<QAction*>& toggles,
                           QWidget* parent)
    : QToolBar(tr("Transport"), parent) {
  setObjectName("TransportBar");
  setToolButtonStyle(Qt::ToolButtonIconOnly);  // the toggles have no icon: they show their text
  addActions(transport);
  addSeparator();
  auto* label = new QLabel(tr(" Tempo "), this);
  addWidget(label);
  tempo_ = new QSpinBox(this);
  tempo_->setObjectName("TempoBpm");
  tempo_->setRange(10, 999);
  tempo_->setSuffix(tr(" bpm"));
  tempo_->setValue(120);
  tempo_->setKeyboardTracking(false);  // asked once the number is typed, not per digit
  tempo_->setToolTip(tr("The tempo the song plays at, in beats per minute"));
  tempo_->setAccessibleName(tr("Tempo"));
  label->setBuddy(tempo_);
  addWidget(tempo_);
  connect(tempo_, &QSpinBox::valueChanged, this, [this](int bpm) { emit tempoAsked(bpm); });
  tap_ = new QToolButton(this);
  tap_->setObjectName("TapTempo");
  tap_->setText(tr("Tap"));
  tap_->setToolTip(tr("Tap the beat a few times to set the tempo"));
  addWidget(tap_);
  connect(tap_, &QToolButton::pressed, this, [this] { tapAt(std::chrono::steady_clock::now()); });
  addSeparator();
  addActions(toggles);
  addSeparator();
  addWidget(new QLabel(tr(" Bar:Beat "), this));
  position_ = new QLabel(this);
  position_->setObjectName("Position");
  position_->setMinimumWidth(fontMetrics().horizontalAdvance("0000:0 "));
  position_->setToolTip(tr("The playing position: bar and beat"));
  addWidget(position_);
}

void TransportBar::showTempo(double bpm) {
  const QSignalBlocker quiet(tempo_);
  tempo_->setValue(static_cast<int>(std::lround(bpm)));
}

void TransportBar::showPosition(const QString& barBeat) {
  position_->setText(barBeat);
}

void TransportBar::tapAt(std::chrono::steady_clock::time_point now) {
  const std::optional<double> bpm = tapTempo_.tap(now);
  if (!bpm) return;
  showTempo(*bpm);
  emit tempoAsked(*bpm);
}

}  // namespace pulsewright
