#include "tablature/TablatureCompiler.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <unordered_set>

#include "padmap/VoiceNames.h"
#include "tablature/DiagnosticSink.h"
#include "tablature/LineScan.h"
#include "tablature/SamplePath.h"
#include "text/FileName.h"
#include "text/NumericValue.h"
#include "text/Utf8.h"

namespace pulsewright {

namespace {

// While a part is read in step order, a step that has no item yet; finishPart points it
// where the next step's items start.
constexpr std::uint32_t kNoItem = std::numeric_limits<std::uint32_t>::max();
constexpr TimelineStep kNewStep{0, 0, kNoItem};
// A 10 MB grid line has eight million steps: each byte more is 8 MB more.
static_assert(sizeof(TimelineStep) == 8);

// A symbol's first eight bytes and its length, which tell most symbols apart without
// comparing them.
std::uint64_t symbolHead(std::string_view symbol) {
  std::uint64_t head = symbol.size();
  const std::size_t n = std::min<std::size_t>(symbol.size(), 7);
  for (std::size_t i = 0; i < n; ++i)
    head |= std::uint64_t{static_cast<unsigned char>(symbol[i])} << (8 * (i + 1));
  return head;
}

// A new part; its musics are given to it at their final size when it ends.
TimelinePart newPart() {
  return TimelinePart{.name = {},
                      .program = -1,
                      .sectionLine = 0,
                      .steps = {},
                      .items = {},
                      .musics = {},
                      .tailDurations = {},
                      .bars = {},
                      .metre = {},
                      .sticking = {},
                      .firstPositionRun = {},
                      .laterPositionRuns = {}};
}

TimelinePart placeholderPart() {
  TimelinePart p;
  p.program = 0;
  p.steps.assign(1, kNewStep);
  return p;
}

// Round half to even, as a whole MIDI value; -1 when outside 0-127 so that no malformed
// word is ever sent.
int midiDataByte(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= 0.0 && rounded <= 127.0)) return -1;
  return static_cast<int>(rounded);
}

std::int16_t toInt16OrZero(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -32768.0 && rounded <= 32767.0)) return 0;
  return static_cast<std::int16_t>(rounded);
}

// Steps a tick can play for `length` steps: all but the two tail steps, and at least
// step 0 where there is one.
std::size_t playableSteps(std::size_t length) {
  if (length == 0) return 0;
  return length >= 3 ? length - 2 : 1;
}

// Leaves `made` at its final size: kept when it has little room to spare, else copied,
// and what it was made in goes back to `spare`.
template <typename T>
void handOver(std::vector<T>& made, std::vector<T>& spare) {
  if (made.capacity() - made.size() <= made.size() / 8) return;
  std::vector<T> exact(made.begin(), made.end());
  spare = std::move(made);
  spare.clear();
  made = std::move(exact);
}

// What the compiler keeps for the next part is at most this large.
template <typename T>
void releaseIfLarge(std::vector<T>& spare) {
  constexpr std::size_t kSpareBytesKept = std::size_t{1} << 20;
  if (spare.capacity() * sizeof(T) > kSpareBytesKept) spare = {};
}

// What a grid character is: a mark's shape slot (0 a rest, 1-4 x X o O, 5-14 the
// digits), a bracket or a bar line, which make no step, or an expression mark, which
// makes a step whose item is a whole item.
constexpr std::uint8_t kFirstMarkKind = 15;
constexpr std::uint8_t kExpressionKind = 16;
constexpr bool makesStep(std::uint8_t kind) {
  return kind < kFirstMarkKind || kind == kExpressionKind;
}
constexpr std::array<std::uint8_t, 256> kGridKinds = [] {
  std::array<std::uint8_t, 256> kinds{};  // a grid line holds no other character
  kinds['x'] = 1;
  kinds['X'] = 2;
  kinds['o'] = 3;
  kinds['O'] = 4;
  for (std::size_t d = 0; d < 10; ++d) kinds['0' + d] = static_cast<std::uint8_t>(5 + d);
  kinds['['] = kFirstMarkKind;
  kinds[']'] = kFirstMarkKind;
  kinds['|'] = kFirstMarkKind;
  for (const char c : std::string_view("fFdDzZcCrRbBeEhH!"))
    kinds[static_cast<unsigned char>(c)] = kExpressionKind;
  return kinds;
}();

bool sameItem(const TimelineItem& a, const TimelineItem& b) {
  // The symbol and sound first: hits differ by them.
  return a.symbol == b.symbol && a.sound == b.sound && a.kind == b.kind && a.voice == b.voice &&
         a.mark == b.mark && a.level == b.level && a.articulation == b.articulation &&
         a.note == b.note && a.velocity == b.velocity && a.volume == b.volume && a.pan == b.pan &&
         a.file == b.file && a.source == b.source;
}

// Whether a line of `voice` can take `articulation`: flams, drags and buzz rolls any
// line; the others only the drums that have such a sound.
bool voiceTakes(const ItemVoice& voice, Articulation articulation) {
  using A = Articulation;
  if (articulation == A::None || articulation == A::Flam || articulation == A::Drag ||
      articulation == A::Buzz)
    return true;
  if (voice.kind != ItemVoice::Kind::Drum) return false;
  const DrumVoice drum = voice.drumVoice();
  const bool hat =
      drum == DrumVoice::ClosedHat || drum == DrumVoice::OpenHat || drum == DrumVoice::PedalHat;
  const bool cymbal = hat || drum == DrumVoice::Ride || drum == DrumVoice::Bell ||
                      drum == DrumVoice::Crash1 || drum == DrumVoice::Crash2;
  const bool tom = drum == DrumVoice::Tom1 || drum == DrumVoice::Tom2 || drum == DrumVoice::Tom3 ||
                   drum == DrumVoice::Tom4;
  switch (articulation) {
    case A::CrossStick: return drum == DrumVoice::SnareDrum || tom;
    case A::Rimshot: return drum == DrumVoice::SnareDrum;
    case A::Bell:
    case A::Edge:
    case A::Choke: return cymbal;
    case A::HalfOpen: return hat;
    default: return true;
  }
}

// Swings the part's steps: of each pair of untupled steps from a bar line on, the first
// lasts P % of the pair and the second the rest, so the second is played late.
void swingSteps(TimelinePart& part) {
  if (part.swingExactPercent == 50.0) return;
  std::size_t bar = 0;
  std::size_t run = 0;  // untupled steps since the bar line or a tuplet
  std::vector<TimelineStep>& steps = part.steps;
  for (std::size_t s = 0; s < steps.size(); ++s) {
    for (; bar < part.bars.size() && static_cast<std::size_t>(part.bars[bar]) <= s; ++bar) {
      if (static_cast<std::size_t>(part.bars[bar]) == s) run = 0;
    }
    const StepMusic& music = part.musicOf(steps[s]);
    if (music.tupletDivisor != 1 || steps[s].duration <= 0) {
      run = 0;
      continue;
    }
    if (run % 2 == 1 && steps[s - 1].duration == steps[s].duration) {
      const int pair = 2 * steps[s].duration;
      const auto first = static_cast<int>(std::lround(pair * part.swingExactPercent / 100.0));
      if (first <= std::numeric_limits<std::int16_t>::max() && first < pair) {
        steps[s - 1].duration = static_cast<std::int16_t>(first);
        steps[s].duration = static_cast<std::int16_t>(pair - first);
      }
    }
    ++run;
  }
}

// One empty song that every compiler can hand out.
const std::shared_ptr<const Timeline>& emptySong() {
  static const std::shared_ptr<const Timeline> empty = std::make_shared<const Timeline>();
  return empty;
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

using line_scan::isBlank;
bool isHitChar(char c) {
  return c == 'x' || c == 'X' || c == 'o' || c == 'O' || (c >= '0' && c <= '9');
}
// "'x'", or a word for characters that do not show.
std::string quoted(std::string_view s) {
  if (s == " ") return "a blank";
  if (s == "\t") return "a tab";
  if (s.size() == 1 && static_cast<unsigned char>(s[0]) < 0x20) return "a control character";
  return "'" + std::string(s) + "'";
}

std::string_view trimmed(std::string_view s) {
  std::size_t a = 0;
  std::size_t b = s.size();
  while (a < b && isBlank(s[a])) ++a;
  while (b > a && isBlank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

std::vector<DrumVoice> allVoices() {
  std::vector<DrumVoice> voices;
  for (std::size_t v = 0; v < kVoiceCount; ++v) voices.push_back(static_cast<DrumVoice>(v));
  return voices;
}

// Sets of symbols looked up by view, so that a lookup costs no copy.
struct ViewHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    return std::hash<std::string_view>{}(text);
  }
};
using SymbolSet = std::unordered_set<std::string, ViewHash, std::equal_to<>>;

}  // namespace

// What the compiler notes as it reads, to word the problems it finds later on. Views
// are inside the text being compiled.
struct TablatureCompiler::Checks {
  Checks(DiagnosticSink& to, std::string kept) : sink(to), keptSongLine(std::move(kept)) {}
  DiagnosticSink& sink;
  const std::string keptSongLine;  // as the compilation before left it
  struct Section {
    int line = 0;
    std::string_view text;
    std::string_view name;
    int gridLines = 0;
    std::size_t firstSteps = 0;
    int firstGridLine = 0;
    line_scan::WrittenMetre metre;  // its text empty when the line has none
  };
  std::vector<Section> sections;              // one for one with the parts after the placeholder
  std::array<bool, kVoiceCount> boundHere{};  // by a voice line of this document, by voice
  SymbolSet waveSymbols;                      // named by a wave line of this document
  SymbolSet keptWarned;                       // kept symbols already named
  std::vector<std::pair<std::size_t, std::string>> undefined;  // report index, symbol
  // "SYMBOL = WORDS" that names no voice; by symbol, the latest such line.
  struct FailedDefinition {
    int line = 0;
    std::string_view text;
    std::string_view words;
    bool used = false;  // by a grid line whose symbol names nothing
    bool warned = false;
  };
  std::map<std::string, FailedDefinition, std::less<>> failedDefinitions;
  std::unordered_map<std::string, std::string> sampleProblems;  // by path as written
  int soundLine = 0;  // the grid line whose symbol last named a sound
  std::string_view soundSymbol;
  int songLine = 0;  // the last song line read
  std::string_view songText;
  std::string_view songValue;
};

TablatureCompiler::TablatureCompiler() : song_(emptySong()) {
  // Room for the runs of nearly every part and line, so that laying them allocates nothing.
  for (std::vector<MusicRun>* runs : {&partRuns_, &lineRuns_, &laidRuns_}) runs->reserve(16);
}

TablatureCompiler::~TablatureCompiler() = default;

void TablatureCompiler::reset() {
  state_ = CompilerState{};
  symbolPending_ = false;
  pendingSound_ = -1;
  eventBytes_ = 0;
  tempoValue_ = numericValue(state_.partTempo);
  notesValue_ = numericValue(state_.partNotes);
  programValue_ = numericValue(state_.partProgram);
  divisorMusics_ = {};
  lastWaveEntry_.clear();
}

void TablatureCompiler::forgetMetadata() {
  state_.metaTitle.clear();
  state_.metaAuthor.clear();
  state_.metaArtist.clear();
  state_.metaGenre.clear();
  state_.metaDescription.clear();
}

void TablatureCompiler::restore(const CompilerState& kept) {
  reset();
  state_ = kept;
  state_.parts = SongParts{};
  tempoValue_ = numericValue(state_.partTempo);
  notesValue_ = numericValue(state_.partNotes);
  programValue_ = numericValue(state_.partProgram);
  divisorMusics_ = {};
}

void TablatureCompiler::compile(std::string_view text, const PadMap& padMap,
                                CompileListener* listener, DiagnosticSink* problems) {
  checks_.reset();
  if (problems != nullptr) checks_ = std::make_unique<Checks>(*problems, state_.songLine);
  // The song before goes first (unless someone still plays it): its memory is then
  // there for the new one, and a long document's two songs are never both held here.
  // A document compiled again has as many parts and grid lines as before: room for them
  // is made at once, as far as the text can hold them.
  const std::size_t partsBefore = std::min(song_->parts().size(), text.size() / 16 + 2);
  const std::size_t gridLinesBefore =
      grid_ == nullptr ? 0 : std::min(grid_->lines.size(), text.size() / 4 + 1);
  song_ = emptySong();
  state_.haveWaves = 0;
  state_.parts = SongParts{};
  state_.parts.parts.reserve(partsBefore);
  state_.parts.parts.push_back(placeholderPart());
  // A song that is still played keeps the grid shapes it was made with.
  grid_ = std::make_shared<TimelineItems::GridShapes>();
  grid_->lines.reserve(gridLinesBefore);
  lastHit_ = 0;
  // The grid model of the song before is made again in its memory, unless someone still
  // reads it: a long document's model is then not paged in anew at every compilation.
  // A much longer document's memory is let go instead.
  if (lastModel_ != nullptr && lastModel_.use_count() == 1 &&
      lastModel_->text_.capacity() <= 2 * text.size() + 4096) {
    model_ = std::move(lastModel_);
    model_->clear();
  } else {
    model_ = std::make_shared<GridModel>();
    // As many grid lines as before, or as a text of short lines has: room that is not
    // used is never paged in.
    model_->lines_.reserve(std::max(gridLinesBefore, text.size() / 16));
  }
  lastModel_.reset();
  model_->text_.assign(text);
  model_->sections_.emplace_back();  // the grid lines above every section line
  symbolIndex_ = TextIndex{};
  soundIndex_ = TextIndex{};
  fileIndex_ = TextIndex{};
  forgetSymbolSounds();
  soundHitKnown_ = false;
  deferState_ = listener == nullptr;
  eventBytes_ = 0;
  writtenMetre_.reset();
  beginPart();
  bool firstWaveSeen = false;
  auto finish = [this] {
    settleSymbol();
    settleSound();
    finishPart();
    releaseIfLarge(lineBars_);
    model_->symbols_ = state_.parts.symbols;
    lastModel_ = model_;
    state_.parts.grid = std::move(model_);
    song_ =
        std::make_shared<const Timeline>(Timeline::build(std::move(state_.parts), state_.songLine));
    state_.parts = SongParts{};
    if (checks_ != nullptr) {
      checkSong();
      checks_.reset();
    }
  };
  if (text.empty()) {
    finish();
    return;
  }

  int lineNumber = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find("\r\n", start);
    const std::string_view line =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    lineStart_ = start;
    compileLine(line, ++lineNumber, padMap, listener, firstWaveSeen);
    if (end == std::string_view::npos) break;
    start = end + 2;
  }
  finish();
}

void TablatureCompiler::compileLine(std::string_view line, int lineNumber, const PadMap& padMap,
                                    CompileListener* listener, bool& firstWaveSeen) {
  // Most lines are grid lines, which hold no "=" and pass no other test; every other
  // test needs an "=". A line that starts with a word goes through the grid test first,
  // which turns other lines away within a few bytes; a line that starts with blanks is
  // looked through for "=" first, as the grid test reads blanks a byte at a time.
  std::string_view symbol;
  std::string_view body;
  bool grid = false;
  bool equals = false;
  if (!line.empty() && line_scan::isWord(line.front())) {
    grid = line_scan::gridLine(line, &symbol, &body);
    equals = !grid && line.find('=') != std::string_view::npos;
  } else {
    equals = line.find('=') != std::string_view::npos;
    grid = !equals && line_scan::gridLine(line, &symbol, &body);
  }
  // Lines with expression marks and sticking lines are turned away by the grid test, so
  // older documents never have them: they are looked for only among the rejected lines.
  if (!grid && !equals) {
    std::string_view sticking;
    if (line_scan::stickingLine(line, &sticking)) {
      if (listener != nullptr) listener->stickingLineRead(lineNumber);
      stickingLine(sticking);
      return;
    }
    grid = line_scan::markedGridLine(line, &symbol, &body);
  }
  LineTests tests;
  // Section lines are read by hand, their fields with their tests.
  line_scan::SectionFields fields;
  const line_scan::SectionFields* sectionFields = nullptr;
  if (grid) {
    tests.set(line_test::kGrid);
  } else if (equals) {
    if (line_scan::classify(line, &tests, &fields)) {
      sectionFields = &fields;
    } else {
      tests = matcher_.classify(line);
    }
  }
  if (listener != nullptr) listener->lineClassified(lineNumber, tests);
  if (tests.none()) {
    if (checks_ != nullptr) checkRejectedLine(line, lineNumber);
    return;
  }

  if (!tests[line_test::kGrid]) {
    otherKinds(line, tests, sectionFields, lineNumber, listener, firstWaveSeen);
  } else {
    if (state_.partName.empty() && listener != nullptr) {
      listener->message(lineNumber, kMissingSectionMessage);
    }
    lineSymbol_ = symbol;
    symbolPending_ = true;
    if (!deferState_) settleSymbol();
    if (symbol.empty() && listener != nullptr) {
      listener->message(lineNumber, kUndefinedSymbolMessage);
    }
    expandGrid(padMap, line, body, lineNumber, listener);
  }
}

void TablatureCompiler::otherKinds(std::string_view line, const LineTests& tests,
                                   const line_scan::SectionFields* fields, int lineNumber,
                                   CompileListener* listener, bool& firstWaveSeen) {
  namespace t = line_test;
  std::string_view value;
  if (tests[t::kWave]) waveLine(line, lineNumber, firstWaveSeen);

  for (int k = 0; k < 5; ++k) {
    const auto key = static_cast<MetaKey>(k);
    if (tests[t::kMetaFirst + k] && matcher_.extract(metaField(key), line, &value)) {
      metaSlot(state_, key)->assign(value);
    }
  }

  for (int i = 0; i < 34; ++i) {
    if (tests[t::kVoiceFirst + i] && matcher_.extract(voiceField(i), line, &value)) {
      state_.voiceSymbols[index(kVoiceAssignmentOrder[i].voice)].assign(value);
      forgetSymbolSounds();
      model_->bindings_.push_back(
          VoiceBinding{lineNumber, kVoiceAssignmentOrder[i].voice, std::string(value)});
      if (listener != nullptr)
        listener->voiceBound(lineNumber, kVoiceAssignmentOrder[i].voice, value);
      if (checks_ != nullptr) checks_->boundHere[index(kVoiceAssignmentOrder[i].voice)] = true;
    }
  }

  if (tests[t::kSong] && matcher_.extract(LineField::Song, line, &value)) {
    state_.songLine.assign(value);
    if (checks_ != nullptr) {
      checks_->songLine = lineNumber;
      checks_->songText = line;
      checks_->songValue = value;
    }
  }

  if (isSectionLine(tests)) {
    sectionLine(line, tests, fields, lineNumber);
  } else if (tests[t::kSectionKeyword] && checks_ != nullptr) {
    checkAlmostSectionLine(line, tests, lineNumber);
  }
}

void TablatureCompiler::waveLine(std::string_view line, int lineNumber, bool& firstWaveSeen) {
  state_.haveWaves = 1;
  forgetSymbolSounds();
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
  auto store = [&](LineField field, std::string& slot, std::string_view* value) {
    const bool found = matcher_.extract(field, line, value);
    slot.assign(found ? *value : std::string_view());
    return found;
  };
  std::string_view file;
  std::string_view pan;
  const bool fileFound = store(LineField::WaveFile, state_.waveFiles.back(), &file);
  if (fileFound) {
    state_.waveNames.back().assign(LineMatcher::waveSymbol(line));
  } else {
    state_.waveNames.back().clear();  // the symbol pattern needs the word pan too
  }
  store(LineField::WavePan, state_.wavePans.back(), &pan);
  lastWaveEntry_[state_.waveNames.back()] = state_.waveNames.size() - 1;
  model_->sampleSymbols_.push_back(state_.waveNames.back());
  if (checks_ == nullptr) return;

  DiagnosticSink& sink = checks_->sink;
  if (!state_.waveNames.back().empty()) checks_->waveSymbols.insert(state_.waveNames.back());
  if (!fileFound) {
    sink.report(lineNumber, line, trimmed(line), Severity::Error,
                "a wave line needs 'pan N' after its file name; without it the line defines no "
                "sound");
    return;
  }
  if (file.empty()) {
    sink.report(lineNumber, line, trimmed(line), Severity::Error,
                "the wave line names no sample file");
    return;
  }
  if (!endsInWav(file)) {
    const double note = numericValue(pan);
    sink.report(lineNumber, line, file, Severity::Error,
                "a sample file's name must end in .wav: '" + std::string(file) +
                    "' is played as MIDI note " + std::to_string(static_cast<long long>(note)) +
                    " instead");
    return;
  }
  if (!sink.sampleProblem) return;
  const std::string path(file);
  auto known = checks_->sampleProblems.find(path);
  if (known == checks_->sampleProblems.end()) {
    known = checks_->sampleProblems
                .emplace(path, sink.sampleProblem(samplePathFrom(path, sink.documentFolder)))
                .first;
  }
  if (!known->second.empty()) {
    sink.report(lineNumber, line, file, Severity::Error,
                "sample file '" + path + "' cannot be played: " + known->second);
  }
}

void TablatureCompiler::sectionLine(std::string_view line, const LineTests& tests,
                                    const line_scan::SectionFields* fields, int lineNumber) {
  std::string_view value;
  // Each field as its test read it, or as its pattern finds it.
  auto field = [&](LineField which, const std::string_view line_scan::SectionFields::*read,
                   bool passed) {
    if (fields == nullptr) return matcher_.extract(which, line, &value);
    value = fields->*read;
    return passed;
  };
  // The numbers are read again only when their text changes: most sections repeat them.
  auto setField = [](std::string& field, double& number, std::string_view text) {
    if (field == text) return;
    field.assign(text);
    number = numericValue(field);
  };
  const double tempoBefore = tempoValue_;
  const double notesBefore = notesValue_;
  using Fields = line_scan::SectionFields;
  GridSection section{lineNumber, lineStart_, static_cast<std::uint32_t>(line.size()), 0, 0};
  std::string_view name;
  if (field(LineField::SectionName, &Fields::name, tests[line_test::kSectionName])) {
    name = value;
    state_.partName.assign(value);
    section.nameColumn = static_cast<std::uint32_t>(value.data() - line.data());
    section.nameLength = static_cast<std::uint32_t>(value.size());
  }
  model_->sections_.push_back(section);
  if (field(LineField::SectionTempo, &Fields::tempo, tests[line_test::kSectionTempo]))
    setField(state_.partTempo, tempoValue_, value);
  if (field(LineField::SectionNotes, &Fields::notes, tests[line_test::kSectionNotes]))
    setField(state_.partNotes, notesValue_, value);
  if (tests[line_test::kProgram] &&
      field(LineField::SectionProgram, &Fields::program, tests[line_test::kProgram])) {
    setField(state_.partProgram, programValue_, value);
  } else {
    setField(state_.partProgram, programValue_, "-1");
  }
  if (tempoValue_ != tempoBefore || notesValue_ != notesBefore) divisorMusics_ = {};
  finishPart();
  state_.parts.parts.push_back(newPart());
  beginPart();
  state_.newPart = 1;
  // A metre item is read only here, so a line that is no section line means what it did.
  line_scan::WrittenMetre metre;
  writtenMetre_.reset();
  const bool metreWritten = line_scan::sectionMetre(line, &metre);
  if (metreWritten && metre.valid) writtenMetre_ = Metre{metre.beats, metre.unit, true};
  if (checks_ != nullptr) {
    DiagnosticSink& sink = checks_->sink;
    if (metreWritten && !metre.valid) {
      sink.report(lineNumber, line, metre.text, Severity::Warning,
                  "metre = " + std::string(metre.text) +
                      " is no metre (1 to 64 beats of 1, 2, 4, 8, 16, 32 or 64): the part's bars "
                      "give its metre");
    }
    const std::size_t count = codePointCount(name);
    if (count != 1) {
      sink.report(lineNumber, line, name, Severity::Warning,
                  "the part name '" + std::string(name) + "' has " + std::to_string(count) +
                      " characters: a song line names parts by one character, so it never plays");
    }
    Checks::Section noted;
    noted.line = lineNumber;
    noted.text = line;
    noted.name = name;
    noted.metre = metre;
    checks_->sections.push_back(noted);
  }
  TimelinePart& record = state_.parts.parts.back();
  sectionExpression(line, lineNumber, record);
  record.sectionLine = lineNumber;
  record.name = state_.partName;
  // A program number that does not fit 16 bits leaves the record's program at 0.
  record.program = 0;
  const double program = programValue_;
  if (program >= -32768.0 && program <= 32767.0) {
    record.program = static_cast<std::int16_t>(std::nearbyint(program));
  }
}

void TablatureCompiler::sectionExpression(std::string_view line, int lineNumber,
                                          TimelinePart& record) {
  // Read only here, as the metre is: a line that is no section line means what it did.
  line_scan::WrittenNumber swing;
  line_scan::WrittenNumber humanize;
  const bool swingWritten = line_scan::sectionNumberItem(line, "swing", &swing);
  const bool humanizeWritten = line_scan::sectionNumberItem(line, "humanize", &humanize);
  if (!swingWritten && !humanizeWritten) return;
  // Outside its range a value is played as the nearest one inside it.
  const double swingPlayed = std::clamp(swing.value, 50.0, 75.0);
  const double humanizePlayed = std::min(std::round(humanize.value), 50.0);
  if (swingWritten) {
    record.swingExactPercent = swingPlayed;
    record.swingPercent = static_cast<std::int8_t>(std::lround(swingPlayed));
  }
  if (humanizeWritten) record.humanizeMs = static_cast<std::int16_t>(humanizePlayed);
  record.expressive = record.expressive || record.humanizeMs > 0;
  if (checks_ == nullptr) return;
  DiagnosticSink& sink = checks_->sink;
  auto number = [](double value) {
    std::string text = std::to_string(value);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
    return text;
  };
  if (swingWritten && swingPlayed != swing.value) {
    sink.report(lineNumber, line, swing.text, Severity::Warning,
                "swing = " + std::string(swing.text) +
                    " is outside 50 (straight) to 75: the part plays with swing " +
                    number(swingPlayed));
  }
  if (humanizeWritten && humanize.value > 50.0) {
    sink.report(lineNumber, line, humanize.text, Severity::Warning,
                "humanize = " + std::string(humanize.text) +
                    " is over 50 ms: the part's hits move by up to 50 ms");
  }
}

void TablatureCompiler::settleSymbol() {
  if (!symbolPending_) return;
  state_.gridSymbol.assign(lineSymbol_);
  symbolPending_ = false;
}

void TablatureCompiler::settleSound() {
  if (pendingSound_ < 0) return;
  state_.soundRef = symbolSounds_[static_cast<std::size_t>(pendingSound_)].soundRef;
  pendingSound_ = -1;
}

void TablatureCompiler::forgetSymbolSounds() {
  settleSound();
  symbolSounds_.clear();
}

bool TablatureCompiler::lookUpSound(const PadMap& padMap) {
  settleSymbol();
  settleSound();
  bool found = false;
  if (state_.haveWaves != 0) {
    // The last entry of that name wins; the index keeps lookups constant-time when a
    // document has thousands of wave-sample lines.
    const auto wave = lastWaveEntry_.find(state_.gridSymbol);
    if (wave != lastWaveEntry_.end()) {
      const std::size_t i = wave->second;
      state_.soundRef = state_.wavePans[i] + "#" + state_.waveFiles[i];
      state_.soundVoice = ItemVoice{ItemVoice::Kind::Sample, 0};
      found = true;
    }
  }
  for (DrumVoice voice : kVoiceLookupOrder) {
    if (state_.voiceSymbols[index(voice)] == state_.gridSymbol) {
      state_.soundRef = padMap[index(voice)];
      state_.soundVoice = ItemVoice{ItemVoice::Kind::Drum, static_cast<std::uint8_t>(index(voice))};
      found = true;
    }
  }
  return found;
}

std::int32_t TablatureCompiler::intern(TextIndex& index, std::vector<std::string>& table,
                                       std::string_view text) {
  // Grid lines often repeat the text of the line before.
  std::int32_t& last = index.last;
  if (last >= 0 && static_cast<std::size_t>(last) < table.size() &&
      table[static_cast<std::size_t>(last)] == text)
    return last;
  if (const auto found = index.ids.find(text); found != index.ids.end())
    return last = found->second;
  const auto id = static_cast<std::int32_t>(table.size());
  index.ids.emplace(std::string(text), id);
  table.emplace_back(text);
  return last = id;
}

void TablatureCompiler::beginPart() {
  TimelineItems& items = state_.parts.parts.back().items;
  items.packed_ = std::move(spareItems_);
  items.packed_.clear();
  itemCount_ = 0;
  items.grid_ = grid_;
  itemRuns_.clear();
  itemsInOrder_ = true;
  lastItemStep_ = -1;
  inOrderRun_ = 0;
  firstBarLine_ = 0;
  barsDisagree_ = false;
  musicIndex_.clear();
  lastMusic_ = {};
  partMusics_.assign(1, StepMusic{});
  partRuns_.assign(1, MusicRun{0, 0});
  // The durations stay: the tempo and note size are those of the section line.
  for (DivisorMusic& known : divisorMusics_) known.musicKnown = false;
}

bool TablatureCompiler::fromStepZero(std::size_t playable) const {
  // Going through every line at every step must cost no more than going through the
  // items a few times: a long line among many short ones is left to counting.
  std::size_t items = 0;
  for (const ItemRun& run : itemRuns_) {
    if (run.firstStep != 0) return false;
    items += std::min<std::size_t>(run.count, playable);
  }
  return itemRuns_.size() * playable <= 4 * (items + playable);
}

void TablatureCompiler::finishPart() {
  TimelinePart& part = state_.parts.parts.back();
  part.musics.assign(partMusics_.begin(), partMusics_.end());
  releaseIfLarge(partMusics_);
  const std::size_t length = part.steps.size();
  const std::size_t playable = playableSteps(length);
  for (std::size_t s = playable; s < length; ++s)
    part.tailDurations.push_back(part.steps[s].duration);
  part.steps.resize(playable);
  std::vector<TimelineItems::Packed>& packed = part.items.packed_;
  packed.resize(itemCount_);
  if (itemsInOrder_) {
    // At most one item per step, each already pointed to by its step: steps without one
    // point where the next would go, and items past the playable steps go.
    std::uint32_t next = 0;
    for (TimelineStep& step : part.steps) {
      if (step.firstItem == kNoItem) {
        step.firstItem = next;
      } else {
        next = step.firstItem + 1;
      }
    }
    packed.resize(std::min<std::size_t>(packed.size(), next));
  } else if (fromStepZero(playable)) {
    // Grid lines that each start at step 0, as nearly every part's: step s holds item s of
    // every line that reaches it, in line order.
    std::size_t total = 0;
    for (const ItemRun& run : itemRuns_) total += std::min<std::size_t>(run.count, playable);
    std::vector<TimelineItems::Packed> ordered(total);
    const TimelineItems::Packed* const from = packed.data();
    const std::size_t lines = itemRuns_.size();
    // Up to the shortest line, every line reaches every step: step s holds items
    // s * lines on, put there a line at a time.
    std::size_t common = playable;
    for (const ItemRun& run : itemRuns_) common = std::min<std::size_t>(common, run.count);
    for (std::size_t s = 0; s < common; ++s)
      part.steps[s].firstItem = static_cast<std::uint32_t>(s * lines);
    std::size_t line = 0;
    for (; line + 1 < lines; line += 2) {  // two lines at a time, side by side in each step
      const TimelineItems::Packed* first = from + itemRuns_[line].firstItem;
      const TimelineItems::Packed* second = from + itemRuns_[line + 1].firstItem;
      TimelineItems::Packed* to = ordered.data() + line;
      for (std::size_t s = 0; s < common; ++s, to += lines) {
        to[0] = first[s];
        to[1] = second[s];
      }
    }
    if (line < lines) {
      const TimelineItems::Packed* source = from + itemRuns_[line].firstItem;
      TimelineItems::Packed* to = ordered.data() + line;
      for (std::size_t s = 0; s < common; ++s, to += lines) *to = source[s];
    }
    if (common < playable) {
      // Past it, each line's items go where the lines before it left off at their steps;
      // a step holds as many items as there are lines that reach past it.
      std::vector<std::uint32_t>& next = itemCounts_;
      next.assign(playable + 1, 0);
      for (const ItemRun& run : itemRuns_) ++next[std::min<std::size_t>(run.count, playable)];
      for (std::size_t s = playable; s-- > common;) next[s] += next[s + 1];  // lines reaching s
      auto first = static_cast<std::uint32_t>(common * lines);
      for (std::size_t s = common; s < playable; ++s) {
        const std::uint32_t reaching = next[s + 1];
        part.steps[s].firstItem = first;
        next[s] = first;
        first += reaching;
      }
      for (const ItemRun& run : itemRuns_) {
        const TimelineItems::Packed* source = from + run.firstItem;
        const std::size_t reached = std::min<std::size_t>(run.count, playable);
        for (std::size_t s = common; s < reached; ++s) ordered[next[s]++] = source[s];
      }
    }
    spareItems_ = std::move(packed);
    packed = std::move(ordered);
  } else {
    // Items came line by line; a step's items go together, in the order they were added.
    std::vector<std::uint32_t>& counts = itemCounts_;
    counts.assign(playable, 0);
    for (const ItemRun& run : itemRuns_) {
      const std::size_t end =
          std::min<std::size_t>(run.firstStep + std::size_t{run.count}, playable);
      for (std::size_t step = run.firstStep; step < end; ++step) ++counts[step];
    }
    std::uint32_t first = 0;
    for (std::size_t s = 0; s < playable; ++s) {
      part.steps[s].firstItem = first;
      first += counts[s];
    }
    std::vector<TimelineItems::Packed> ordered(first);
    std::vector<std::uint32_t>& next = counts;  // now the next free place of each step
    for (std::size_t s = 0; s < playable; ++s) next[s] = part.steps[s].firstItem;
    for (const ItemRun& run : itemRuns_) {
      const std::size_t end =
          std::min<std::size_t>(run.firstStep + std::size_t{run.count}, playable);
      const TimelineItems::Packed* from = packed.data() + run.firstItem;
      for (std::size_t step = run.firstStep; step < end; ++step) ordered[next[step]++] = *from++;
    }
    spareItems_ = std::move(packed);
    packed = std::move(ordered);
  }
  itemRuns_.clear();
  // The items and shapes at their final size; what was made for them stays for the
  // next part, unless it is large.
  handOver(packed, spareItems_);
  releaseIfLarge(spareItems_);
  releaseIfLarge(itemCounts_);
  releaseIfLarge(itemRuns_);

  makePositionRuns(part);
  if (!part.sticking.empty()) part.sticking.resize(part.steps.size(), '-');
  swingSteps(part);
  // The metre from the first bar of the bar lines, when the grid lines agree on them.
  if (!barsDisagree_ && part.bars.size() >= 2 && part.bars[1] > part.bars[0]) {
    double notes = 0.0;
    double noteSize = 0.0;
    for (std::int32_t s = part.bars[0]; s < part.bars[1]; ++s) {
      if (static_cast<std::size_t>(s) >= part.steps.size()) break;
      const StepMusic& m = part.musicOf(part.steps[static_cast<std::size_t>(s)]);
      if (m.noteSize <= 0.0 || m.tupletDivisor <= 0) continue;
      if (noteSize == 0.0) noteSize = m.noteSize;
      notes += 1.0 / m.tupletDivisor;
    }
    if (const std::optional<Metre> metre = metreOfBar(notes, noteSize)) part.metre = *metre;
  }
  // A written metre names how bars of its length are felt (6/8, not 3/4); bars of
  // another length keep the metre they make.
  if (writtenMetre_) {
    const Metre& bars = part.metre;
    if (!bars.fromBars ||
        bars.beats * writtenMetre_->beatUnit == writtenMetre_->beats * bars.beatUnit) {
      part.metre = *writtenMetre_;
    }
    writtenMetre_.reset();
  }
}

void TablatureCompiler::layLineRuns(std::size_t end, std::size_t stepCount) {
  const auto lineEnd = static_cast<std::uint32_t>(end);
  const bool timesAll = std::none_of(lineRuns_.begin(), lineRuns_.end(),
                                     [](const MusicRun& r) { return r.music == kKeptMusic; });
  std::vector<MusicRun>& laid = laidRuns_;
  if (timesAll) {
    // The line's runs, then the part's from the line's end on.
    if (end >= stepCount) {       // the part has no steps past the line's
      partRuns_.swap(lineRuns_);  // the line's are made anew for the next line
      return;
    }
    laid.assign(lineRuns_.begin(), lineRuns_.end());
    std::size_t r = 0;
    while (r + 1 < partRuns_.size() && partRuns_[r + 1].firstStep <= lineEnd) ++r;
    if (laid.back().music != partRuns_[r].music)
      laid.push_back(MusicRun{lineEnd, partRuns_[r].music});
    for (++r; r < partRuns_.size(); ++r) {
      if (laid.back().music != partRuns_[r].music) laid.push_back(partRuns_[r]);
    }
    partRuns_.swap(laid);
    return;
  }
  laid.clear();
  auto add = [&laid](std::uint32_t first, std::uint32_t music) {
    if (laid.empty() || laid.back().music != music) laid.push_back(MusicRun{first, music});
  };
  // The part's music from step `from` until `to` (or for good, when to is 0).
  std::size_t next = 0;  // the part's run to look at first
  auto keep = [&](std::uint32_t from, std::uint32_t to) {
    while (next + 1 < partRuns_.size() && partRuns_[next + 1].firstStep <= from) ++next;
    for (std::size_t r = next; r < partRuns_.size(); ++r) {
      if (to != 0 && partRuns_[r].firstStep >= to) break;
      add(std::max(partRuns_[r].firstStep, from), partRuns_[r].music);
    }
  };
  for (std::size_t i = 0; i < lineRuns_.size(); ++i) {
    const std::uint32_t from = lineRuns_[i].firstStep;
    const std::uint32_t to = i + 1 < lineRuns_.size() ? lineRuns_[i + 1].firstStep : lineEnd;
    if (from >= to) continue;
    if (lineRuns_[i].music == kKeptMusic) {
      keep(from, to);
    } else {
      add(from, lineRuns_[i].music);
    }
  }
  if (end < stepCount) keep(lineEnd, 0);
  partRuns_.swap(laid);
}

void TablatureCompiler::makePositionRuns(TimelinePart& part) {
  std::vector<PositionRun>& runs = positionRuns_;
  runs.clear();
  const std::size_t count = part.steps.size();
  for (const MusicRun& music : partRuns_) {
    if (music.firstStep >= count) break;
    const StepMusic& values =
        music.music < part.musics.size() ? part.musics[music.music] : part.musics.front();
    PositionRun run;
    run.firstStep = music.firstStep;
    // As a step plays: one whose note size gives no length lasts as long as the one before.
    run.ownLength = values.noteSize > 0.0 && values.tupletDivisor >= 1;
    const PositionRun* before = runs.empty() ? nullptr : &runs.back();
    if (run.ownLength) {
      const std::optional<MusicalTime> length = exactLengthOf(values);
      run.exactLength = length.has_value();
      if (length) run.length = *length;
    } else {
      run.exactLength = before != nullptr && before->exactLength;
      if (run.exactLength) run.length = before->length;
    }
    if (before != nullptr) {
      std::optional<MusicalTime> start;
      if (before->exactStart && before->exactLength) {
        const std::optional<MusicalTime> steps =
            before->length * static_cast<std::int64_t>(run.firstStep - before->firstStep);
        if (steps) start = before->start + *steps;
      }
      run.exactStart = start.has_value();
      if (start) run.start = *start;
      // Musics of one length are one run of positions.
      if (before->ownLength == run.ownLength && before->exactLength == run.exactLength &&
          before->length == run.length && (before->exactStart || !run.exactStart)) {
        continue;
      }
    }
    runs.push_back(run);
  }
  // Most parts have one run, which costs them no allocation.
  if (!runs.empty()) part.firstPositionRun = runs.front();
  if (runs.size() > 1) part.laterPositionRuns.assign(runs.begin() + 1, runs.end());
}

std::uint32_t TablatureCompiler::musicIndex(const StepMusic& music) {
  const MusicKey key{music.tempo, music.noteSize, music.tupletDivisor};
  // Most grid lines of a part have the music of the line before, and most parts have
  // one or two: those are found by looking, and only a part of many needs the index.
  if (lastMusic_.second != 0 && key == lastMusic_.first) return lastMusic_.second;
  auto keyOf = [](const StepMusic& m) { return MusicKey{m.tempo, m.noteSize, m.tupletDivisor}; };
  std::vector<StepMusic>& musics = partMusics_;
  if (musics.size() <= kMusicsLookedThrough) {
    for (std::size_t i = 1; i < musics.size(); ++i) {
      if (keyOf(musics[i]) == key) {
        lastMusic_ = {key, static_cast<std::uint32_t>(i)};
        return lastMusic_.second;
      }
    }
  } else {
    if (musicIndex_.empty()) {
      for (std::size_t i = 1; i < musics.size(); ++i)
        musicIndex_.emplace(keyOf(musics[i]), static_cast<std::uint32_t>(i));
    }
    if (const auto found = musicIndex_.find(key); found != musicIndex_.end()) {
      lastMusic_ = *found;
      return found->second;
    }
  }
  // A step keeps its music in 16 bits, which a part's one tempo and note size and at
  // most 32768 divisors never fill; should they, further steps get an untimed step's values.
  if (musics.size() > std::numeric_limits<std::uint16_t>::max()) return 0;
  musics.push_back(music);
  const auto index = static_cast<std::uint32_t>(musics.size() - 1);
  if (!musicIndex_.empty()) musicIndex_.emplace(key, index);
  lastMusic_ = {key, index};
  return index;
}

void TablatureCompiler::itemsOutOfOrder(const TimelinePart& part) {
  // Until now each item was the only one of its step, in step order.
  itemsInOrder_ = false;
  itemRuns_.clear();
  if (inOrderRun_ != 0) {
    // One grid line's items from step 0, as a part's first line has them.
    itemRuns_.push_back(ItemRun{0, 0, inOrderRun_});
    return;
  }
  for (std::size_t s = 0; s < part.steps.size(); ++s) {
    const std::uint32_t item = part.steps[s].firstItem;
    if (item == kNoItem) continue;
    const auto step = static_cast<std::uint32_t>(s);
    if (!itemRuns_.empty()) {
      ItemRun& last = itemRuns_.back();
      if (last.firstItem + last.count == item && last.firstStep + last.count == step) {
        ++last.count;
        continue;
      }
    }
    itemRuns_.push_back(ItemRun{item, step, 1});
  }
}

void TablatureCompiler::addItemRun(std::uint32_t firstItem, std::uint32_t firstStep,
                                   std::uint32_t count) {
  if (!itemRuns_.empty()) {
    ItemRun& last = itemRuns_.back();
    if (last.firstItem + last.count == firstItem && last.firstStep + last.count == firstStep) {
      last.count += count;
      return;
    }
  }
  itemRuns_.push_back(ItemRun{firstItem, firstStep, count});
}

const TablatureCompiler::DivisorMusic& TablatureCompiler::divisorMusic() {
  const std::int16_t divisor = state_.tupletDivisor;
  DivisorMusic* found = nullptr;
  for (DivisorMusic& known : divisorMusics_) {
    if (known.known && known.divisor == divisor) {
      found = &known;
      break;
    }
  }
  if (found == nullptr) {
    found = &divisorMusics_[nextDivisorMusic_];
    nextDivisorMusic_ = (nextDivisorMusic_ + 1) % divisorMusics_.size();
    found->known = true;
    found->divisor = divisor;
    found->duration = stepDuration();
    found->musicKnown = false;
  }
  if (!found->musicKnown) {
    found->music = found->duration ? musicIndex(StepMusic{tempoValue_, notesValue_, divisor}) : 0;
    found->musicKnown = true;
  }
  lastDivisorMusic_ = static_cast<std::size_t>(found - divisorMusics_.data());
  return *found;
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

TimelineItem TablatureCompiler::hitOfSound() {
  settleSound();
  SongParts& song = state_.parts;
  TimelineItem hit;
  hit.voice = state_.soundVoice;
  hit.sound = intern(soundIndex_, song.sounds, state_.soundRef);
  const std::string_view sound = state_.soundRef;
  if (endsInWav(sound)) {
    // "pan#file": everything after the first "#" is the file, so a path that holds a
    // "#" still plays.
    const std::size_t hash = sound.find('#');
    hit.kind = TimelineItem::Kind::Sample;
    if (hash != std::string_view::npos) {
      hit.file = intern(fileIndex_, song.sampleFiles, sound.substr(hash + 1));
    }
    hit.pan = toInt16OrZero(numericValue(sound.substr(0, hash)));
  } else {
    const int note = midiDataByte(numericValue(sound));
    if (note >= 0) {
      hit.kind = note == 0 ? TimelineItem::Kind::Rest : TimelineItem::Kind::Note;
      hit.note = static_cast<std::uint8_t>(note);
    }
  }
  return hit;
}

bool TablatureCompiler::soundOfLine(const PadMap& padMap) {
  const std::string_view symbol = lineSymbol_;
  const std::uint64_t head = symbolHead(symbol);
  SymbolSound* known = nullptr;
  for (SymbolSound& entry : symbolSounds_) {
    // The head holds the whole of a symbol of up to seven bytes.
    if (entry.head == head && (symbol.size() <= 7 || entry.symbol == symbol)) {
      known = &entry;
      break;
    }
  }
  if (known == nullptr) {
    if (symbolSounds_.size() >= kSymbolSoundsKept) forgetSymbolSounds();
    known = &symbolSounds_.emplace_back();
    known->symbol = symbol;
    known->head = head;
    known->symbolId = intern(symbolIndex_, state_.parts.symbols, symbol);
    known->defined = lookUpSound(padMap);
    if (known->defined) {
      known->soundRef = state_.soundRef;
      known->voice = state_.soundVoice;
      known->hit = hitOfSound();
      soundHit_ = known->hit;
      soundHitKnown_ = true;
    }
  } else if (known->defined) {
    // The sound text is copied only when someone may read it.
    pendingSound_ = static_cast<std::int32_t>(known - symbolSounds_.data());
    if (!deferState_) settleSound();
    state_.soundVoice = known->voice;
    soundHit_ = known->hit;
    soundHitKnown_ = true;
  }
  // A symbol that names nothing plays the sound before it, which may be one an earlier
  // compilation left behind.
  if (!soundHitKnown_) {
    soundHit_ = hitOfSound();
    soundHitKnown_ = true;
  }
  lineSymbolId_ = known->symbolId;
  lineSound_ = known->defined ? static_cast<std::int32_t>(known - symbolSounds_.data()) : -1;
  return known->defined;
}

std::uint32_t TablatureCompiler::lineShape(int lineNumber, int utf16LessColumn) {
  // The line's hit, where a line before has it already: a song plays a few sounds over
  // many lines. Only the latest few are looked through.
  constexpr std::size_t kHitsLookedThrough = 16;
  std::vector<TimelineItem>& hits = grid_->hits;
  std::size_t hit = hits.size();
  // A defined symbol's lines all have the same hit, found once.
  SymbolSound* const owner =
      lineSound_ >= 0 ? &symbolSounds_[static_cast<std::size_t>(lineSound_)] : nullptr;
  if (owner != nullptr && owner->gridHit >= 0) {
    hit = static_cast<std::size_t>(owner->gridHit);
  } else {
    // The sound's hit with the line's symbol.
    TimelineItem lineHit = soundHit_;
    lineHit.symbol = lineSymbolId_;
    if (lastHit_ < hits.size() && sameItem(hits[lastHit_], lineHit)) {
      hit = lastHit_;
    } else {
      for (std::size_t i = hits.size(); i > 0 && hits.size() - i < kHitsLookedThrough; --i) {
        if (sameItem(hits[i - 1], lineHit)) {
          hit = i - 1;
          break;
        }
      }
      if (hit == hits.size()) hits.push_back(lineHit);
      lastHit_ = hit;
    }
    if (owner != nullptr) owner->gridHit = static_cast<std::int32_t>(hit);
  }
  std::vector<TimelineItems::LineShape>& lines = grid_->lines;
  lines.push_back(
      TimelineItems::LineShape{lineNumber, utf16LessColumn, static_cast<std::uint32_t>(hit)});
  return static_cast<std::uint32_t>(lines.size() - 1) << TimelineItems::kSlotBits;
}

void TablatureCompiler::growItems(std::vector<TimelineItems::Packed>& packed, std::size_t count) {
  const std::size_t needed = itemCount_ + count;
  if (packed.capacity() < needed) packed.reserve(std::max(needed, itemCount_ * 2));
  // Items are left unset until written: this only moves the vector's end.
  packed.resize(packed.capacity());
}

std::size_t TablatureCompiler::markRun(const char* text, std::size_t count, TimelineStep* steps,
                                       TimelineItems::Packed* items, std::uint32_t lineRef,
                                       std::uint32_t column, std::int16_t duration,
                                       std::uint16_t music, std::size_t& rests) {
  std::size_t restCount = 0;
  std::size_t i = 0;
  for (; i < count; ++i) {
    const std::uint8_t slot = kGridKinds[static_cast<unsigned char>(text[i])];
    if (slot >= kFirstMarkKind) break;
    steps[i].duration = duration;
    steps[i].music = music;
    restCount += slot == 0 ? 1 : 0;
    items[i] = TimelineItems::Packed{lineRef | slot, column + static_cast<std::uint32_t>(i)};
  }
  rests += restCount;
  return i;
}

std::size_t TablatureCompiler::readTimedMarks(const TimedMarks& marks, std::string_view body,
                                              std::size_t p, std::size_t end,
                                              std::vector<TimelineStep>& steps,
                                              TimelineItems::Packed* lineItems,
                                              std::vector<std::int32_t>& bars, std::size_t& n,
                                              std::size_t& rests,
                                              std::vector<std::uint32_t>& skips) {
  const char* const text = body.data();
  std::size_t k = n;
  const std::size_t firstK = k;
  const std::size_t stepCount = steps.size();
  while (p < end) {
    if (k < stepCount) {
      // Marks on steps the part has: a mark is one step further and one character on.
      const std::size_t marked =
          markRun(text + p, std::min(end - p, stepCount - k), steps.data() + k, lineItems + k,
                  marks.lineRef, marks.column + static_cast<std::uint32_t>(p), marks.duration,
                  marks.music, rests);
      p += marked;
      k += marked;
      if (p == end) break;
    }
    const char c = text[p];
    const std::uint8_t slot = kGridKinds[static_cast<unsigned char>(c)];
    if (slot < kFirstMarkKind) {
      // A new step, where there is room for it: new steps never move those before them.
      if (steps.size() == steps.capacity()) break;
      steps.push_back(TimelineStep{
          marks.duration, marks.music,
          marks.pointSteps ? marks.firstItem + static_cast<std::uint32_t>(k) : kNoItem});
      rests += slot == 0 ? 1 : 0;
      lineItems[k] =
          TimelineItems::Packed{marks.lineRef | slot, marks.column + static_cast<std::uint32_t>(p)};
      ++k;
      ++p;
      continue;
    }
    if (c != '|') break;
    if (bars.back() != static_cast<std::int32_t>(k)) bars.push_back(static_cast<std::int32_t>(k));
    skips.push_back(static_cast<std::uint32_t>(p));
    ++p;
  }
  // The steps the part had, which the line reached first.
  if (marks.pointSteps) {
    for (std::size_t i = firstK; i < std::min(k, stepCount); ++i)
      steps[i].firstItem = marks.firstItem + static_cast<std::uint32_t>(i);
  }
  n = k;
  return p;
}

TimelineItems::Packed TablatureCompiler::markedItem(TimelineItems& items, std::uint32_t lineRef,
                                                    char c, std::uint32_t column,
                                                    std::string_view line, std::size_t at,
                                                    int lineNumber) {
  const ArticulationMark mark = *articulationOfMark(c);
  const TimelineItems::LineShape& shape = grid_->lines[lineRef >> TimelineItems::kSlotBits];
  const TimelineItem& hit = grid_->hits[shape.hit];
  const bool choke = mark.articulation == Articulation::Choke;
  const bool takes = voiceTakes(hit.voice, mark.articulation);
  if (!takes && checks_ != nullptr && checks_->sink.keeps(lineNumber)) {
    const std::string drum = hit.voice.kind == ItemVoice::Kind::Drum
                                 ? "a " + std::string(kVoiceCaptions[hit.voice.drum]) + " line"
                             : hit.voice.kind == ItemVoice::Kind::Sample
                                 ? std::string("a wave-sample line")
                                 : std::string("a line of no drum");
    checks_->sink.report(
        lineNumber, line, line.substr(at, 1), Severity::Warning,
        quoted(line.substr(at, 1)) + " at column " + std::to_string(at + 1) + " is a " +
            articulationName(mark.articulation) + ", which " + drum +
            " cannot take: " + (choke ? "it plays nothing" : "it plays as a plain hit"));
  }
  // A mark the drum cannot take is the plain hit of its level, as an x or X is.
  if (!takes && !choke) return TimelineItems::Packed{lineRef | (mark.level > 5 ? 2U : 1U), column};
  if (takes) state_.parts.parts.back().expressive = true;
  TimelineItem item = TimelineItems::markOf(hit, 1);
  item.mark = c;
  item.articulation = takes ? mark.articulation : Articulation::None;
  item.level = static_cast<std::int8_t>(mark.level);
  if (item.kind == TimelineItem::Kind::Sample) {
    item.volume = static_cast<std::int16_t>(mark.level + 1);
  } else if (item.kind != TimelineItem::Kind::Skip) {
    item.velocity = static_cast<std::uint8_t>(velocityOfLevel(mark.level));
  }
  if (choke) {
    // A choke sends no note-on: it only stops what the line's drum sounds.
    item.kind = TimelineItem::Kind::Skip;
    item.velocity = 0;
    item.volume = 0;
  }
  item.source = SourcePosition{shape.line, static_cast<int>(column),
                               shape.utf16LessColumn + static_cast<int>(column)};
  // Consecutive marks of one kind on a line share a shape.
  std::uint32_t index = 0;
  if (!items.shapes_.empty()) {
    TimelineItem last = items.shapes_.back();
    last.source.utf16 += item.source.column;
    last.source.column = item.source.column;
    if (sameItem(last, item)) index = static_cast<std::uint32_t>(items.shapes_.size());
  }
  index = index != 0 ? index - 1 : items.addShape(item);
  return TimelineItems::Packed{(index << TimelineItems::kSlotBits) | TimelineItems::kWholeItem,
                               column};
}

void TablatureCompiler::stickingLine(std::string_view body) {
  std::string& sticking = state_.parts.parts.back().sticking;
  // As on a grid line, the last character is no step.
  const std::size_t examined = body.empty() ? 0 : body.size() - 1;
  std::size_t step = 0;
  for (std::size_t p = 0; p < examined; ++p) {
    const char c = body[p];
    if (c == '|' || c == '[' || c == ']') continue;
    if (sticking.size() <= step) sticking.resize(step + 1, '-');
    if (c != '-') sticking[step] = c;
    ++step;
  }
}

void TablatureCompiler::expandGrid(const PadMap& padMap, std::string_view line,
                                   std::string_view body, int lineNumber,
                                   CompileListener* listener) {
  const bool symbolDefined = soundOfLine(padMap);
  TimelinePart& part = state_.parts.parts.back();
  std::vector<TimelineStep>& steps = part.steps;
  TimelineItems& items = part.items;

  // The position of body[p] in the line: a grid line's text before its body is blanks,
  // a word and a bar line, all ASCII, and so is the body: one code point and one UTF-16
  // unit per byte.
  const std::size_t bodyOffset =
      body.empty() ? line.size() : static_cast<std::size_t>(body.data() - line.data());
  const int bodyColumn = static_cast<int>(bodyOffset) + 1;
  const int bodyUtf16 = static_cast<int>(bodyOffset);
  const int utf16LessColumn = bodyUtf16 - bodyColumn;

  // The grid's last character is never examined. Its steps and the bytes its items add
  // to the budget are counted first only where they are needed before reading: for a
  // part's first line, a line longer than the part's steps, or a line that may pass the
  // budget. Other lines are read in one pass.
  const std::size_t examined = body.empty() ? 0 : body.size() - 1;
  const std::size_t hitBytes = soundRef().size() + 3;
  // A part's steps are made by its first grid line and grown by longer ones, with two
  // tail steps after the line's; a part whose steps were never made has nothing to grow.
  bool hasSteps = true;
  const bool firstLine = state_.newPart != 0;
  if (firstLine) {
    state_.newPart = 0;
  } else if (steps.empty()) {
    hasSteps = false;
  }
  // examined * max(hitBytes, 4) <= what the budget has left, without a division per line:
  // both factors stay far below 2^32 wherever the product is formed.
  const std::size_t budgetLeft = kEventBudgetBytes - eventBytes_;
  const std::size_t itemBytesAtMost = std::max<std::size_t>(hitBytes, 4);
  const bool surelyFits =
      examined < (std::size_t{1} << 32) && itemBytesAtMost < (std::size_t{1} << 32)
          ? examined * itemBytesAtMost <= budgetLeft
          : examined <= budgetLeft / itemBytesAtMost;
  std::size_t lineSteps = examined;  // at most
  std::size_t lineRests = 0;
  // A line a little longer than the part's steps grows them as it reaches new ones.
  constexpr std::size_t kGrownUncounted = 64;
  const bool counted =
      hasSteps && (firstLine || !surelyFits || examined > steps.size() + kGrownUncounted);
  if (counted) {
    lineSteps = 0;
    for (std::size_t p = 0; p < examined; ++p) {
      const std::uint8_t kind = kGridKinds[static_cast<unsigned char>(body[p])];
      lineSteps += makesStep(kind) ? 1 : 0;
      lineRests += kind == 0 ? 1 : 0;
    }
  }
  if (firstLine) {
    steps.reserve(lineSteps + 2);
    steps.assign(2, kNewStep);
  }
  const std::size_t firstItem = itemCount_;
  // The line's items are made from its shape and their grid character's slot; a line
  // that adds no item gives its shape back at the end.
  const std::uint32_t lineRef = hasSteps ? lineShape(lineNumber, utf16LessColumn) : 0;
  // Room for the line's steps at once, so that a long line is not copied as they grow.
  // New steps are added as the line reaches them, so that their memory is written once.
  if (hasSteps && counted && steps.capacity() < lineSteps + 2)
    steps.reserve(std::max(lineSteps + 2, steps.size() * 2));
  // Nearly always every item of the line fits the budget: they are then written
  // without a check each, as one run of items.
  const bool allFit =
      hasSteps && (!counted || eventBytes_ + lineRests * 4 + (lineSteps - lineRests) * hitBytes <=
                                   kEventBudgetBytes);
  // The line's first item is at step 0: items that a line before put there are then out
  // of step order, from the line's first item on.
  const bool goesBack = allFit && itemsInOrder_ && lastItemStep_ >= 0;
  const bool pointSteps = allFit && itemsInOrder_ && !goesBack;

  // Tempo and note size stay the same for the whole line; only brackets change the
  // duration, so it is worked out again only then.
  std::optional<std::int16_t> duration;
  std::uint32_t music = 0;
  auto changeMusic = [&] {
    // Most lines have the divisor of the line before.
    const DivisorMusic& last = divisorMusics_[lastDivisorMusic_];
    const DivisorMusic& known =
        last.known && last.musicKnown && last.divisor == state_.tupletDivisor ? last
                                                                              : divisorMusic();
    duration = known.duration;
    music = known.music;
  };
  changeMusic();
  lineRuns_.clear();
  lineRuns_.push_back(MusicRun{0, duration ? music : kKeptMusic});
  std::vector<std::int32_t>& bars = lineBars_;  // reused: no allocation per line
  bars.assign(1, 0);                            // the "|" before the body
  // The line's bar lines and brackets go to the grid model as they are read; its record
  // is made once the line is read.
  GridModel& model = *model_;
  std::vector<std::uint32_t>& skips = model.skips_;
  const std::size_t firstSkip = skips.size();
  const std::size_t firstBracket = model.brackets_.size();
  std::size_t n = 0;
  std::size_t rests = 0;
  std::size_t nextClose = std::string::npos;
  bool closeKnown = false;
  std::vector<TimelineItems::Packed>& packed = items.packed_;
  // Every step of a line that fits the budget gets one item, in step order: they are
  // written in place, at most one per character.
  TimelineItems::Packed* const lineItems = allFit ? itemRoom(packed, lineSteps) : nullptr;
  TimedMarks marks{0,          0,
                   pointSteps, static_cast<std::uint32_t>(firstItem),
                   lineRef,    static_cast<std::uint32_t>(bodyColumn)};
  for (std::size_t p = 0; p < examined; ++p) {
    if (allFit && duration) {
      // Nearly every character of a line is a mark of a timed step or a bar line.
      marks.duration = *duration;
      marks.music = static_cast<std::uint16_t>(music);
      p = readTimedMarks(marks, body, p, examined, steps, lineItems, bars, n, rests, skips);
      if (p == examined) break;
    }
    const char c = body[p];
    const std::uint8_t slot = kGridKinds[static_cast<unsigned char>(c)];
    const bool expression = slot == kExpressionKind;
    if (slot >= kFirstMarkKind && !expression) {
      skips.push_back(static_cast<std::uint32_t>(p));
      if (c == '[') {
        // The first "]" to the right, remembered so that a line of many "[" stays linear.
        if (!closeKnown || (nextClose != std::string::npos && nextClose <= p)) {
          nextClose = body.find(']', p + 1);
          closeKnown = true;
        }
        const std::size_t close = nextClose;
        model_->brackets_.push_back(GridBracket{
            static_cast<std::uint32_t>(bodyOffset + p),
            close == std::string::npos ? GridBracket::kNoClose
                                       : static_cast<std::uint32_t>(bodyOffset + close)});
        if (close == std::string::npos) {
          state_.tupletDivisor = 1;  // no "]" after it: the rest of the line is outside brackets
        } else if (close - p - 1 <= 32767) {
          state_.tupletDivisor = static_cast<std::int16_t>(close - p - 1);
        }
        changeMusic();
        lineMusicFrom(n, duration ? music : kKeptMusic);
      } else if (c == ']') {
        state_.tupletDivisor = 1;
        changeMusic();
        lineMusicFrom(n, duration ? music : kKeptMusic);
      } else if (bars.back() != static_cast<std::int32_t>(n)) {  // a bar line
        bars.push_back(static_cast<std::int32_t>(n));
      }
      continue;
    }

    if (hasSteps) {
      if (n == steps.size()) {
        // At most one step per character left, and the two tail steps.
        if (steps.size() == steps.capacity()) steps.reserve(steps.size() + (examined - p) + 2);
        steps.emplace_back(kNewStep);
      }
      TimelineStep& step = steps[n];
      if (duration) {
        step.duration = *duration;
        step.music = static_cast<std::uint16_t>(music);
      }
      const auto column = static_cast<std::uint32_t>(bodyColumn + static_cast<int>(p));
      const TimelineItems::Packed item =
          expression ? markedItem(items, lineRef, c, column, line, bodyOffset + p, lineNumber)
                     : TimelineItems::Packed{lineRef | slot, column};
      if (allFit) {
        rests += slot == 0 ? 1 : 0;
        lineItems[n] = item;
        if (pointSteps) step.firstItem = static_cast<std::uint32_t>(firstItem + n);
      } else {
        const std::size_t itemBytes = slot == 0 ? 4 : hitBytes;
        if (eventBytes_ + itemBytes <= kEventBudgetBytes) {
          eventBytes_ += itemBytes;
          const auto index = static_cast<std::uint32_t>(itemCount_);
          if (itemsInOrder_ && static_cast<std::int64_t>(n) <= lastItemStep_) itemsOutOfOrder(part);
          if (itemsInOrder_) {
            step.firstItem = index;
            lastItemStep_ = static_cast<std::int64_t>(n);
            inOrderRun_ = 0;
          } else {
            addItemRun(index, static_cast<std::uint32_t>(n), 1);
          }
          *itemRoom(packed, 1) = item;
          ++itemCount_;
        }
      }
    }
    ++n;
  }
  if (allFit && n != 0) {
    itemCount_ = firstItem + n;
    eventBytes_ += rests * 4 + (n - rests) * hitBytes;
    if (goesBack) itemsOutOfOrder(part);
    if (itemsInOrder_) {
      // The part's first items: each step of the line points at its own.
      lastItemStep_ = static_cast<std::int64_t>(n) - 1;
      inOrderRun_ = static_cast<std::uint32_t>(n);
    } else {
      // A run from step 0 never continues the run before it.
      itemRuns_.push_back(
          ItemRun{static_cast<std::uint32_t>(firstItem), 0, static_cast<std::uint32_t>(n)});
    }
  }
  bool closed = false;
  if (!body.empty() && body.back() == '|' && bars.back() != static_cast<std::int32_t>(n)) {
    bars.push_back(static_cast<std::int32_t>(n));
    closed = true;
  }
  GridLine& record = model.lines_.emplace_back();
  record.offset = lineStart_;
  record.part = static_cast<int>(state_.parts.parts.size() - 1);
  record.line = lineNumber;
  record.length = static_cast<std::uint32_t>(line.size());
  record.symbolColumn = static_cast<std::uint32_t>(lineSymbol_.data() - line.data());
  record.symbolId = lineSymbolId_;
  record.bodyColumn = static_cast<std::uint32_t>(bodyOffset);
  record.bodyLength = static_cast<std::uint32_t>(body.size());
  record.stepCount = static_cast<std::uint32_t>(n);
  record.voice = state_.soundVoice;
  record.symbolDefined = symbolDefined;
  record.closedByLastCharacter = closed;
  record.firstSkip_ = static_cast<std::uint32_t>(firstSkip);
  record.skipCount_ = static_cast<std::uint32_t>(skips.size() - firstSkip);
  record.firstBracket_ = static_cast<std::uint32_t>(firstBracket);
  record.bracketCount_ = static_cast<std::uint32_t>(model.brackets_.size() - firstBracket);
  // Two tail steps with durations and no items, which the sequencer never plays.
  if (hasSteps && itemCount_ == firstItem) grid_->lines.pop_back();
  if (hasSteps && steps.size() < n + 2) steps.resize(n + 2, kNewStep);
  if (hasSteps && duration) {
    for (std::size_t tail = n; tail < n + 2; ++tail) {
      steps[tail].duration = *duration;
      steps[tail].music = music;
    }
  }
  // Nearly every line of a part has the music of those before it.
  const bool sameMusic = lineRuns_.size() == 1 &&
                         (lineRuns_[0].music == kKeptMusic ||
                          (partRuns_.size() == 1 && lineRuns_[0].music == partRuns_[0].music));
  if (hasSteps && !sameMusic) layLineRuns(n + 2, steps.size());
  // The part's bar lines are those of its first grid line that has any inside; the
  // others must agree with them where both have steps.
  if (bars.size() >= 2) {
    if (firstBarLine_ == 0) {
      firstBarLine_ = lineNumber;
      part.bars = bars;
    } else if (!barsDisagree_) {
      // Where both lines have steps, they must have the same bar lines (a shorter line's
      // closing one aside: a line of other length is a problem of its own).
      const std::int32_t common = std::min(part.bars.back(), bars.back());
      const auto partEnd = std::lower_bound(part.bars.begin(), part.bars.end(), common);
      const auto lineEnd = std::lower_bound(bars.begin(), bars.end(), common);
      if (!std::equal(part.bars.begin(), partEnd, bars.begin(), lineEnd)) {
        barsDisagree_ = true;
        part.bars.clear();
        if (listener != nullptr) listener->barsDisagree(lineNumber, firstBarLine_);
        if (checks_ != nullptr) checkBarsDisagree(line, body, lineNumber);
      } else if (bars.back() > part.bars.back() &&
                 std::binary_search(bars.begin(), bars.end(), part.bars.back())) {
        part.bars = bars;
      }
    }
  }
  if (checks_ != nullptr) checkGridLine(line, body, lineNumber, symbolDefined, n);
  if (listener != nullptr) listener->gridLineRead(lineNumber, lineSymbol_, symbolDefined, n, bars);
}

void TablatureCompiler::checkRejectedLine(std::string_view line, int lineNumber) {
  // "SYMBOL = WORDS" (or "WORDS = SYMBOL") that binds nothing: the compiler passes over it
  // as a remark, so the words are likely a voice name misspelt or cut short.
  const std::size_t equals = line.find('=');
  if (equals != std::string_view::npos && line.find('=', equals + 1) == std::string_view::npos) {
    const std::string_view left = trimmed(line.substr(0, equals));
    const std::string_view right = trimmed(line.substr(equals + 1));
    auto oneRun = [](std::string_view s, bool (*allowed)(char)) {
      return !s.empty() && std::all_of(s.begin(), s.end(), allowed);
    };
    const bool leftSymbol = oneRun(left, [](char c) { return !isBlank(c); });
    const bool rightSymbol = oneRun(right, [](char c) { return line_scan::isWord(c); });
    std::string_view symbol;
    std::string_view words;
    std::vector<DrumVoice> nearest;
    if (leftSymbol && !right.empty()) {
      symbol = left;
      words = right;
      nearest = nearestVoices(words);
    }
    if (nearest.empty() && rightSymbol && !left.empty()) {
      // The voice-first form, "crash = c".
      std::vector<DrumVoice> before = nearestVoices(left);
      if (!before.empty()) {
        symbol = right;
        words = left;
        nearest = std::move(before);
      }
    }
    if (!symbol.empty()) {
      checks_->failedDefinitions[std::string(symbol)] = {lineNumber, line, words, false,
                                                         !nearest.empty()};
      if (!nearest.empty()) {
        checks_->sink.report(
            lineNumber, line, trimmed(line), Severity::Warning,
            "'" + std::string(words) + "' names no voice, so this line defines no '" +
                std::string(symbol) + "': did you mean " + voiceList(nearest) + "?");
      }
    }
  }
  checkAlmostGridLine(line, lineNumber);
}

void TablatureCompiler::checkAlmostGridLine(std::string_view line, int lineNumber) {
  // A line that starts like a grid line but is none; names the character that spoils it.
  const std::string_view word = line_scan::leadingWord(line);
  const bool defined =
      !word.empty() && (checks_->waveSymbols.contains(word) ||
                        std::find(state_.voiceSymbols.begin(), state_.voiceSymbols.end(), word) !=
                            state_.voiceSymbols.end());
  const line_scan::GridNearMiss miss = line_scan::gridNearMiss(line, defined);
  using Kind = line_scan::GridNearMiss::Kind;
  if (miss.kind == Kind::None) return;
  const std::string_view what = line.substr(miss.at, miss.size);
  auto column = [&] {
    LineColumns columns;
    columns.reset(line);
    return std::to_string(columns.at(miss.at).column);
  };
  DiagnosticSink& sink = checks_->sink;
  switch (miss.kind) {
    case Kind::NoBarAfterSymbol:
      sink.report(lineNumber, line, what, Severity::Warning,
                  "grid line ignored: a grid line needs '|' between its symbol '" +
                      std::string(word) + "' and its grid");
      break;
    case Kind::StrayInSymbol:
      sink.report(lineNumber, line, what, Severity::Error,
                  "grid line ignored: " + quoted(what) + " at column " + column() +
                      " cannot stand in a symbol (letters, digits and _)");
      break;
    case Kind::NoSymbol:
      sink.report(lineNumber, line, what, Severity::Error,
                  "grid line ignored: it needs a symbol before the first '|'");
      break;
    case Kind::StrayInGrid:
      sink.report(lineNumber, line, what, miss.mostlyGrid ? Severity::Error : Severity::Warning,
                  "grid line ignored: " + quoted(what) + " at column " + column() +
                      " is not a hit (x X o O 0-9), an expression mark (f d z c r b e h in "
                      "either case, !), a rest (-), a bar line (|) or a bracket ([ ])");
      break;
    case Kind::None: break;
  }
}

void TablatureCompiler::checkAlmostSectionLine(std::string_view line, const LineTests& tests,
                                               int lineNumber) {
  namespace t = line_test;
  std::vector<std::string> missing;
  if (!tests[t::kSectionName]) missing.emplace_back("a name followed by a blank and an item");
  if (!tests[t::kSectionTempo]) missing.emplace_back("tempo = N");
  if (!tests[t::kSectionNotes]) missing.emplace_back("notes = N");
  std::string text = "not a section line: it needs ";
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) text += i + 1 == missing.size() ? " and " : ", ";
    text += missing[i];
  }
  const std::string& current = state_.partName;
  text += current.empty() ? "; the grid lines under it belong to no part"
                          : "; the grid lines under it go on in part '" + current + "'";
  checks_->sink.report(lineNumber, line, trimmed(line), Severity::Error, std::move(text));
}

void TablatureCompiler::checkGridLine(std::string_view line, std::string_view body, int lineNumber,
                                      bool symbolDefined, std::size_t steps) {
  Checks& c = *checks_;
  DiagnosticSink& sink = c.sink;
  const std::string_view symbol = lineSymbol_;
  // Only a section line of this document makes a part that plays.
  const bool inPart = !c.sections.empty();
  if (!inPart) {
    sink.report(lineNumber, line, trimmed(line), Severity::Error,
                "grid line before any section line ('part = A tempo = 120 notes = 8'): it "
                "belongs to no part and never plays");
  }

  if (symbolDefined) {
    c.soundLine = lineNumber;
    c.soundSymbol = symbol;
    // The voice found may be one this document never bound, though it binds the symbol
    // to another voice (bound again since) or names a sample by it: the voice wins.
    if (state_.soundVoice.kind == ItemVoice::Kind::Drum && !c.boundHere[state_.soundVoice.drum] &&
        c.keptWarned.emplace(symbol).second) {
      sink.report(lineNumber, line, symbol, Severity::Warning,
                  "'" + std::string(symbol) +
                      "' is defined by no voice line of this document: Play uses the voice kept "
                      "from the previous compilation, " +
                      std::string(kVoiceCaptions[state_.soundVoice.drum]));
    }
  } else if (sink.keeps(lineNumber)) {
    std::string text = "'" + std::string(symbol) + "' is defined by no voice or wave line above it";
    const auto failed = c.failedDefinitions.find(symbol);
    if (failed != c.failedDefinitions.end()) {
      failed->second.used = true;
      text += ": line " + std::to_string(failed->second.line) + " ('" +
              std::string(trimmed(failed->second.text)) +
              "') is meant to define it but names no voice; this line plays ";
    } else {
      text += " (such as '" + std::string(symbol) + " = snare'): this line plays ";
    }
    if (c.soundLine > 0) {
      text += "the sound of line " + std::to_string(c.soundLine) + " ('" +
              std::string(c.soundSymbol) + "')";
    } else if (!soundRef().empty()) {
      // No line of this document named a sound yet: the one before is the kept one.
      text += "the sound kept from the previous compilation, ";
      const std::string& sound = soundRef();
      if (state_.soundVoice.kind == ItemVoice::Kind::Drum) {
        text += kVoiceCaptions[state_.soundVoice.drum];
      } else if (const std::size_t hash = sound.find('#'); hash != std::string::npos) {
        text += "sample file '" + sound.substr(hash + 1) + "'";  // "pan#file"
      } else {
        text += "'" + sound + "'";
      }
    } else {
      text += "MIDI note 0";
    }
    const std::size_t index = sink.size();
    if (sink.report(lineNumber, line, symbol, Severity::Error, std::move(text)))
      c.undefined.emplace_back(index, std::string(symbol));
  }

  if (!body.empty() && isHitChar(body.back())) {
    sink.report(lineNumber, line, body.substr(body.size() - 1), Severity::Warning,
                "the last character of a grid line is never played: end the line with '|'", true);
  }

  if (!inPart) return;
  // Section lines and parts go one for one, so the newest section is this line's part.
  Checks::Section& part = c.sections.back();
  if (++part.gridLines == 1) {
    part.firstSteps = steps;
    part.firstGridLine = lineNumber;
  } else if (steps != part.firstSteps && sink.keeps(lineNumber)) {
    sink.report(lineNumber, line, body, Severity::Warning,
                "this grid line has " + std::to_string(steps) + " steps but line " +
                    std::to_string(part.firstGridLine) + ", the first of part '" +
                    std::string(part.name) + "', has " + std::to_string(part.firstSteps),
                true);
  }
}

void TablatureCompiler::checkBarsDisagree(std::string_view line, std::string_view body,
                                          int lineNumber) {
  DiagnosticSink& sink = checks_->sink;
  if (!sink.keeps(lineNumber)) return;
  const std::string_view partName =
      checks_->sections.empty() ? std::string_view() : checks_->sections.back().name;
  sink.report(lineNumber, line, body, Severity::Warning,
              "the bar lines of this grid line differ from those of line " +
                  std::to_string(firstBarLine_) + " in part '" + std::string(partName) +
                  "': the part has no bars to go by and is taken as 4/4");
}

void TablatureCompiler::checkSong() {
  Checks& c = *checks_;
  DiagnosticSink& sink = c.sink;
  const std::vector<TimelinePart>& table = song_->parts();
  for (std::size_t i = 0; i < c.sections.size(); ++i) {
    const Checks::Section& part = c.sections[i];
    const Metre& made = i + 1 < table.size() ? table[i + 1].metre : Metre{};
    if (part.metre.valid && part.gridLines > 0 &&
        (made.beats != part.metre.beats || made.beatUnit != part.metre.unit)) {
      sink.report(part.line, part.text, part.metre.text, Severity::Warning,
                  "metre = " + std::string(part.metre.text) + " does not fit the bars of part '" +
                      std::string(part.name) + "', which make " + std::to_string(made.beats) + "/" +
                      std::to_string(made.beatUnit) + ": it is played and written as " +
                      std::to_string(made.beats) + "/" + std::to_string(made.beatUnit));
    }
    if (part.gridLines > 0) continue;
    if (i == 0) {
      sink.report(part.line, part.text, part.name, Severity::Error,
                  "the first part has no grid lines, so the song cannot start");
    } else {
      sink.report(part.line, part.text, part.name, Severity::Warning,
                  "part '" + std::string(part.name) + "' has no grid lines and plays nothing");
    }
  }
  songCharacterChecks();
  // A symbol defined only below its grid line is a common slip worth naming.
  for (const auto& [index, symbol] : c.undefined) {
    if (std::find(state_.voiceSymbols.begin(), state_.voiceSymbols.end(), symbol) !=
            state_.voiceSymbols.end() ||
        c.waveSymbols.contains(symbol)) {
      sink.amend(index, "; it is defined further down, which counts only from there on");
    }
  }
  // A line meant to define a symbol that grid lines use, in words like no voice's.
  for (const auto& [symbol, failed] : c.failedDefinitions) {
    if (failed.used && !failed.warned) {
      sink.report(failed.line, failed.text, trimmed(failed.text), Severity::Warning,
                  "'" + std::string(failed.words) + "' names no voice, so this line defines no '" +
                      symbol + "': a voice line names one of " + voiceList(allVoices()));
    }
  }
}

void TablatureCompiler::songCharacterChecks() {
  Checks& c = *checks_;
  DiagnosticSink& sink = c.sink;
  if (c.sections.empty()) return;
  const Checks::Section& first = c.sections.front();
  if (c.songLine == 0 && !c.keptSongLine.empty() && state_.songLine == c.keptSongLine) {
    sink.report(first.line, first.text, first.name, Severity::Warning,
                "no song line here: Play uses the song line kept from the previous compilation, `" +
                    c.keptSongLine + "`");
    return;
  }
  if (c.songLine == 0 || c.songValue.empty()) {
    const bool written = c.songLine > 0;
    sink.report(written ? c.songLine : first.line, written ? c.songText : first.text,
                written ? trimmed(c.songText) : first.name, Severity::Error,
                "no song line names the parts to play ('song = ABA'), so nothing plays");
    return;
  }
  // Each character as the song plays it: one that names no part plays the part before.
  const std::vector<TimelinePart>& table = song_->parts();
  std::vector<std::string_view> characters;
  for (std::size_t i = 0; i < c.songValue.size();) {
    const std::size_t len = characterBytes(c.songValue, i);
    characters.push_back(c.songValue.substr(i, len));
    i += len;
  }
  const SongPartPicker picker(table, characters);
  int part = 1;
  for (const std::string_view character : characters) {
    if (picker.pick(character, part)) continue;
    if (!sink.keeps(c.songLine)) break;
    const std::string_view current =
        static_cast<std::size_t>(part) < table.size() ? std::string_view(table[part].name) : "";
    sink.report(c.songLine, c.songText, character, Severity::Error,
                quoted(character) + " in the song names no part: part '" + std::string(current) +
                    "' plays again in its place");
  }
}

}  // namespace pulsewright
