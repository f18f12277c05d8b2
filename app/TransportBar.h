#pragma once
// The transport toolbar: Play, Pause and Stop, the tempo in beats per minute (typed, or
// tapped with the Tap button), the loop and metronome toggles and the position as
// bar:beat. The window keeps it up to date and hears the tempo the user asks for.

#include <QToolBar>
#include <chrono>
#include <optional>
#include <vector>

#include "playback/Practice.h"

class QLabel;
class QSpinBox;
class QToolButton;

namespace pulsewright {

// Where step `step` (from 0) of a part falls, counted in 4/4 from the part's note size
// (8: two steps a beat). The document's own bars, once the song knows them, replace this.
BarBeat barBeatOf(int step, double noteSize);

// Tap tempo: the beats per minute of the last few taps, once there are two; a pause of
// more than two seconds starts again.
class TapTempo {
 public:
  std::optional<double> tap(std::chrono::steady_clock::time_point now);
  void forget() { taps_.clear(); }

 private:
  std::vector<std::chrono::steady_clock::time_point> taps_;
};

class TransportBar : public QToolBar {
  Q_OBJECT
 public:
  // `transport`: Play, Pause and Stop; `toggles`: the loop and the metronome.
  TransportBar(const QList<QAction*>& transport, const QList<QAction*>& toggles,
               QWidget* parent = nullptr);

  // The shown tempo; a change made here does not come back as tempoAsked.
  void showTempo(double bpm);
  void showPosition(const QString& barBeat);
  // Taps once, as the Tap button does, at `now`.
  void tapAt(std::chrono::steady_clock::time_point now);
  // Another document is on screen: the taps before were for the one before.
  void forgetTaps() { tapTempo_.forget(); }

  QSpinBox* tempo() const { return tempo_; }
  QToolButton* tapButton() const { return tap_; }
  QLabel* position() const { return position_; }

 signals:
  // The user typed or tapped a tempo.
  void tempoAsked(double bpm);

 private:
  QSpinBox* tempo_;
  QToolButton* tap_;
  QLabel* position_;
  TapTempo tapTempo_;
};

}  // namespace pulsewright
