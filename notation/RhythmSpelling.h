#pragma once
// Rhythm spelling by the metre: a measure's grid steps become each voice's notes and
// rests as a drummer reads them. A note lasts until the next hit in its voice or the end
// of its beat; rests are merged within a beat, empty beats and bars get one rest each;
// tuplets are written only where the hits need them, bracketed per beat (or per two
// beats for a tuplet of longer notes); notes beamed by beat, secondary beams broken at
// the half beat.

#include <functional>
#include <string>

#include "notation/Score.h"

namespace pulsewright {

// The length in divisions of one beat of the measure's metre: a dotted quarter in
// compound time (6/8, 9/8, 12/8), else a quarter.
int beatLength(const ScoreMeasure& measure, int divisions);
bool compoundMetre(const ScoreMeasure& measure);

// Fills measure.voices from its steps. `warn` hears of what no note value writes exactly
// (it is then drawn as the nearest value, its duration kept).
void spellMeasure(ScoreMeasure& measure, int divisions,
                  const std::function<void(const std::string&)>& warn);

}  // namespace pulsewright
