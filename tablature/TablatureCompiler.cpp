#include "tablature/TablatureCompiler.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "text/NumericValue.h"

namespace pulsewright {

namespace {

// Voices in the order the sound lookup compares them; a later match overrides.
constexpr std::array<DrumVoice, kVoiceCount> kLookupOrder = {
    DrumVoice::BassDrum, DrumVoice::SnareDrum, DrumVoice::Tom1,    DrumVoice::Tom2,
    DrumVoice::Tom3,     DrumVoice::Tom4,      DrumVoice::Perc1,   DrumVoice::Perc2,
    DrumVoice::Crash1,   DrumVoice::Crash2,    DrumVoice::Bell,    DrumVoice::Ride,
    DrumVoice::Claps,    DrumVoice::CowBell,   DrumVoice::OpenHat, DrumVoice::ClosedHat,
    DrumVoice::PedalHat};

PartRecord placeholderRecord() {
  PartRecord r;
  r.program = 0;
  r.stepTimes.assign(1, 0);
  r.stepEvents.assign(1, std::string());
  return r;
}

std::string* metaSlot(CompilerState& s, MetaKey key) {
  switch (key) {
    case MetaKey::Author: return &s.metaAuthor;
    case MetaKey::Description: return &s.metaDescription;
    case MetaKey::Artist: return &s.metaArtist;
    case MetaKey::Genre: return &s.metaGenre;
    case MetaKey::Title: return &s.metaTitle;
  }
  return nullptr;
}

}  // namespace

TablatureCompiler::TablatureCompiler() = default;

void TablatureCompiler::reset() {
  state_ = CompilerState{};
  eventBytes_ = 0;
  tempoValue_ = 0.0;
  notesValue_ = 0.0;
  lastWaveEntry_.clear();
}

void TablatureCompiler::compile(std::string_view text, const PadMap& padMap,
                                CompileListener* listener) {
  state_.haveWaves = 0;
  state_.partTable.clear();
  state_.partTable.push_back(placeholderRecord());
  state_.sourceMap.clear();
  state_.sourceMap.emplace_back();
  state_.sourceMap.back().music.assign(1, StepMusic{});
  eventBytes_ = 0;
  bool firstWaveSeen = false;
  if (text.empty()) return;

  int lineNumber = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find("\r\n", start);
    const std::string_view line =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    compileLine(line, ++lineNumber, padMap, listener, firstWaveSeen);
    if (end == std::string_view::npos) break;
    start = end + 2;
  }
}

void TablatureCompiler::compileLine(std::string_view line, int lineNumber, const PadMap& padMap,
                                    CompileListener* listener, bool& firstWaveSeen) {
  namespace t = line_test;
  const LineTests tests = matcher_.classify(line);
  if (listener != nullptr) listener->lineClassified(lineNumber, tests);
  if (tests.none()) return;

  std::string_view value;
  if (tests[t::kWave]) waveLine(line, firstWaveSeen);

  for (int k = 0; k < 5; ++k) {
    const auto key = static_cast<MetaKey>(k);
    if (tests[t::kMetaFirst + k] && matcher_.extract(metaField(key), line, &value)) {
      metaSlot(state_, key)->assign(value);
    }
  }

  for (int i = 0; i < 34; ++i) {
    if (tests[t::kVoiceFirst + i] && matcher_.extract(voiceField(i), line, &value)) {
      state_.voiceSymbols[index(kVoiceAssignmentOrder[i].voice)].assign(value);
    }
  }

  if (tests[t::kSong] && matcher_.extract(LineField::Song, line, &value)) {
    state_.songLine.assign(value);
  }

  if (isSectionLine(tests)) sectionLine(line, tests, lineNumber);

  if (tests[t::kGrid]) {
    if (state_.partName.empty() && listener != nullptr) {
      listener->message(lineNumber, kMissingSectionMessage);
    }
    std::string_view symbol;
    std::string_view body;
    LineMatcher::gridFields(line, &symbol, &body);
    state_.gridSymbol.assign(symbol);
    if (state_.gridSymbol.empty() && listener != nullptr) {
      listener->message(lineNumber, kUndefinedSymbolMessage);
    }
    state_.gridBody.assign(body);
    expandGrid(padMap, line,
               body.empty() ? line.size() : static_cast<std::size_t>(body.data() - line.data()),
               lineNumber);
  }
}

void TablatureCompiler::waveLine(std::string_view line, bool& firstWaveSeen) {
  state_.haveWaves = 1;
  if (!firstWaveSeen) {
    // The first wave-sample line of a compilation starts the table afresh at index 1.
    firstWaveSeen = true;
    lastWaveEntry_.clear();
    state_.waveNames.resize(2);
    state_.waveFiles.resize(2);
    state_.wavePans.resize(2);
  } else {
    state_.waveNames.emplace_back();
    state_.waveFiles.emplace_back();
    state_.wavePans.emplace_back();
  }
  // A field that is not found (a line without the word pan) is stored empty.
  auto store = [&](LineField field, std::string& slot) {
    std::string_view value;
    const bool found = matcher_.extract(field, line, &value);
    slot.assign(found ? value : std::string_view());
    return found;
  };
  const bool fileFound = store(LineField::WaveFile, state_.waveFiles.back());
  if (fileFound) {
    state_.waveNames.back().assign(LineMatcher::waveSymbol(line));
  } else {
    state_.waveNames.back().clear();  // the symbol pattern needs the word pan too
  }
  store(LineField::WavePan, state_.wavePans.back());
  lastWaveEntry_[state_.waveNames.back()] = state_.waveNames.size() - 1;
}

void TablatureCompiler::sectionLine(std::string_view line, const LineTests& tests, int lineNumber) {
  std::string_view value;
  if (matcher_.extract(LineField::SectionName, line, &value)) state_.partName.assign(value);
  if (matcher_.extract(LineField::SectionTempo, line, &value)) state_.partTempo.assign(value);
  if (matcher_.extract(LineField::SectionNotes, line, &value)) state_.partNotes.assign(value);
  tempoValue_ = numericValue(state_.partTempo);
  notesValue_ = numericValue(state_.partNotes);
  if (tests[line_test::kProgram] && matcher_.extract(LineField::SectionProgram, line, &value)) {
    state_.partProgram.assign(value);
  } else {
    state_.partProgram = "-1";
  }
  state_.partTable.emplace_back();
  state_.sourceMap.emplace_back();
  state_.sourceMap.back().sectionLine = lineNumber;
  state_.newPart = 1;
  PartRecord& record = state_.partTable.back();
  record.name = state_.partName;
  // A program number that does not fit 16 bits leaves the record's program at 0.
  const double program = numericValue(state_.partProgram);
  if (program >= -32768.0 && program <= 32767.0) {
    record.program = static_cast<std::int16_t>(std::nearbyint(program));
  }
}

void TablatureCompiler::lookUpSound(const PadMap& padMap) {
  if (state_.haveWaves != 0) {
    // The last entry of that name wins; the index keeps lookups constant-time when a
    // document has thousands of wave-sample lines.
    const auto found = lastWaveEntry_.find(state_.gridSymbol);
    if (found != lastWaveEntry_.end()) {
      const std::size_t i = found->second;
      state_.soundRef = state_.wavePans[i] + "#" + state_.waveFiles[i];
    }
  }
  for (DrumVoice voice : kLookupOrder) {
    if (state_.voiceSymbols[index(voice)] == state_.gridSymbol) {
      state_.soundRef = padMap[index(voice)];
    }
  }
}

bool TablatureCompiler::setUpStep(std::size_t n) {
  PartRecord& record = state_.partTable.back();
  std::vector<StepMusic>& music = state_.sourceMap.back().music;
  if (state_.newPart != 0) {
    record.stepTimes.assign(2, 0);
    record.stepEvents.assign(2, std::string());
    record.stepTimes.reserve(32);
    record.stepEvents.reserve(32);
    music.assign(2, StepMusic{});
    state_.newPart = 0;
  } else if (!record.hasSteps()) {
    return false;  // a part whose tables were never made has nothing to grow
  } else if (n >= record.stepTimes.size()) {
    record.stepTimes.push_back(0);
    record.stepEvents.emplace_back();
    music.emplace_back();
  }
  return n < record.stepTimes.size();
}

std::optional<std::int16_t> TablatureCompiler::stepDuration() const {
  const double tempo = tempoValue_;
  const double notes = notesValue_;
  const double divisor = state_.tupletDivisor;
  // A division by zero or a duration beyond 16 bits leaves the step's duration as it was.
  if (tempo == 0.0 || notes == 0.0 || divisor == 0.0) return std::nullopt;
  const double ms = std::floor((60.0 / tempo) * 1000.0 / (notes / 4.0) / divisor);
  if (!std::isfinite(ms) || ms < -32768.0 || ms > 32767.0) return std::nullopt;
  return static_cast<std::int16_t>(ms);
}

void TablatureCompiler::expandGrid(const PadMap& padMap, std::string_view line,
                                   std::size_t bodyOffset, int lineNumber) {
  lookUpSound(padMap);
  const std::string& body = state_.gridBody;
  // Tempo and note size stay the same for the whole line; only brackets change the
  // duration, so it is worked out again only then.
  std::optional<std::int16_t> duration = stepDuration();
  auto setDuration = [&](std::size_t n) {
    if (!duration) return;
    state_.partTable.back().stepTimes[n] = *duration;
    state_.sourceMap.back().music[n] = StepMusic{tempoValue_, notesValue_, state_.tupletDivisor};
  };
  // The position of body[p] in the line, counted as the loop goes so a long line stays
  // linear: code points and UTF-16 units before the body, then within it.
  int column = 1;
  int utf16 = 0;
  auto count = [&](std::string_view bytes) {
    for (const char ch : bytes) {
      const auto b = static_cast<unsigned char>(ch);
      if ((b & 0xC0) == 0x80) continue;  // a continuation byte belongs to the code point before
      ++column;
      utf16 += b >= 0xF0 ? 2 : 1;
    }
  };
  count(line.substr(0, std::min(bodyOffset, line.size())));
  std::vector<PartSource::Item>& items = state_.sourceMap.back().items;
  std::size_t n = 0;
  std::size_t nextClose = std::string::npos;
  bool closeKnown = false;
  // The grid's last character is never examined.
  for (std::size_t p = 0; p + 1 < body.size(); ++p) {
    const char c = body[p];
    const SourcePosition here{lineNumber, column, utf16};
    count(std::string_view(&body[p], 1));
    if (c == '[') {
      // The first "]" to the right, remembered so that a line of many "[" stays linear.
      if (!closeKnown || (nextClose != std::string::npos && nextClose <= p)) {
        nextClose = body.find(']', p + 1);
        closeKnown = true;
      }
      const std::size_t close = nextClose;
      if (close == std::string::npos) {
        state_.tupletDivisor = 1;  // no "]" after it: the rest of the line is outside brackets
      } else if (close - p - 1 <= 32767) {
        state_.tupletDivisor = static_cast<std::int16_t>(close - p - 1);
      }
      duration = stepDuration();
      continue;
    }
    if (c == ']') {
      state_.tupletDivisor = 1;
      duration = stepDuration();
      continue;
    }
    if (c == '|') continue;

    if (setUpStep(n)) {
      setDuration(n);
      char level = '0';
      bool rest = false;
      switch (c) {
        case 'X':
        case 'O': level = '7'; break;
        case 'x':
        case 'o': level = '5'; break;
        case '-': rest = true; break;
        default: level = c; break;  // a digit
      }
      std::string& events = state_.partTable.back().stepEvents[n];
      const std::size_t itemBytes = rest ? 4 : state_.soundRef.size() + 3;
      if (eventBytes_ + itemBytes <= kEventBudgetBytes) {
        eventBytes_ += itemBytes;
        // A step collects one item per grid line of its part: grow in larger strides
        // than the string would, to spare reallocations.
        if (events.size() + itemBytes > events.capacity()) {
          events.reserve(
              std::max({events.size() + itemBytes, 2 * events.capacity(), std::size_t{64}}));
        }
        items.push_back({static_cast<std::int32_t>(n), here});
        if (rest) {
          events += "0,0|";
        } else {
          events += state_.soundRef;
          events += ',';
          events += level;
          events += '|';
        }
      }
    }
    ++n;
  }
  // Two tail steps with durations and no items, which the sequencer never plays.
  for (std::size_t tail = n; tail < n + 2; ++tail) {
    if (setUpStep(tail)) setDuration(tail);
  }
}

}  // namespace pulsewright
