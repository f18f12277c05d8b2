#pragma once
// Compiles tablature text into the part table. One compiler lives as long as the main
// window: the voice symbols, the song, the metadata, the current section's fields, the
// sound of the last grid line and the tuplet divisor carry over from one compilation to
// the next, as a user who presses Play twice expects.

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "padmap/PadMap.h"
#include "tablature/GridModel.h"
#include "tablature/LinePatterns.h"
#include "tablature/PartTable.h"
#include "tablature/Timeline.h"

namespace pulsewright {

namespace line_scan {
struct SectionFields;
}  // namespace line_scan

class DiagnosticSink;

// The voices in the order the compiler looks a grid symbol up: a later one that has the
// symbol is the one it plays.
inline constexpr std::array<DrumVoice, kVoiceCount> kVoiceLookupOrder = {
    DrumVoice::BassDrum, DrumVoice::SnareDrum, DrumVoice::Tom1,    DrumVoice::Tom2,
    DrumVoice::Tom3,     DrumVoice::Tom4,      DrumVoice::Perc1,   DrumVoice::Perc2,
    DrumVoice::Crash1,   DrumVoice::Crash2,    DrumVoice::Bell,    DrumVoice::Ride,
    DrumVoice::Claps,    DrumVoice::CowBell,   DrumVoice::OpenHat, DrumVoice::ClosedHat,
    DrumVoice::PedalHat};

inline constexpr std::string_view kMissingSectionMessage =
    "Error: Part needs a section line to define name and tempo and note size.";
inline constexpr std::string_view kUndefinedSymbolMessage = "Error: Part has an undifined symbol.";

// What a compilation reports while it runs. The window shows messages in a modal box;
// the command line prints them. The compilation goes on when message() returns.
class CompileListener {
 public:
  virtual ~CompileListener() = default;
  // lineNumber counts from 1.
  virtual void message(int lineNumber, std::string_view text) = 0;
  // A grid line as the compiler read it: its symbol, whether the symbol named a sound
  // (otherwise the line plays the sound before it), its steps and its bar lines (step
  // indices, the opening one included).
  virtual void gridLineRead(int lineNumber, std::string_view symbol, bool symbolDefined,
                            std::size_t steps, const std::vector<std::int32_t>& bars) {
    (void)lineNumber;
    (void)symbol;
    (void)symbolDefined;
    (void)steps;
    (void)bars;
  }
  // A voice line of the document bound `symbol` to `voice`.
  virtual void voiceBound(int lineNumber, DrumVoice voice, std::string_view symbol) {
    (void)lineNumber;
    (void)voice;
    (void)symbol;
  }
  // A grid line whose bar lines differ from those of the first grid line of its part
  // that has bar lines; the part is then taken as 4/4.
  virtual void barsDisagree(int lineNumber, int firstLineNumber) {
    (void)lineNumber;
    (void)firstLineNumber;
  }
  // Called for every line, in order, with the tests it passed.
  virtual void lineClassified(int lineNumber, const LineTests& tests) {
    (void)lineNumber;
    (void)tests;
  }
  // In place of lineClassified for a sticking line ("st |R-L-|"), which passes no test.
  virtual void stickingLineRead(int lineNumber) { lineClassified(lineNumber, LineTests{}); }
};

// Everything a compilation reads and writes besides the text and the pad map.
struct CompilerState {
  // The parts being read; handed to the song when the compilation ends.
  SongParts parts;
  std::int16_t newPart = 0;
  std::string partName;
  std::string partTempo;
  std::string partNotes;
  std::string partProgram;
  std::vector<std::string> waveNames;  // index 0 is never written
  std::vector<std::string> waveFiles;
  std::vector<std::string> wavePans;
  std::int16_t haveWaves = 0;
  std::array<std::string, kVoiceCount> voiceSymbols;  // pad order, empty while unbound
  std::string songLine;
  std::string metaTitle;
  std::string metaAuthor;
  std::string metaArtist;
  std::string metaGenre;
  std::string metaDescription;
  std::string gridSymbol;
  std::string soundRef;
  ItemVoice soundVoice;  // the voice soundRef came from
  std::int16_t tupletDivisor = 1;
};

class TablatureCompiler {
 public:
  TablatureCompiler();
  ~TablatureCompiler();

  // Compiles the whole text, lines separated by CR LF. The pad map is read at each grid
  // line. The listener may be null. The problems the compiler passes over in silence go
  // to `problems` (unless null) where it comes upon them, those of the whole song when
  // it ends.
  void compile(std::string_view text, const PadMap& padMap, CompileListener* listener,
               DiagnosticSink* problems = nullptr);

  // Forgets what earlier compilations left behind: the next one reads the text as a
  // newly made compiler would, without compiling the patterns again.
  void reset();
  // Forgets only the metadata an earlier compilation read (title, author and the rest):
  // a document's title is its own, though its voice symbols and song may carry over.
  void forgetMetadata();
  // Takes over what another compiler's compilation left behind, so that the next
  // compilation reads the text as that compiler's next one would.
  void restore(const CompilerState& kept);

  const CompilerState& state() const { return state_; }
  // The song of the latest compilation; an empty song before the first and while a
  // compilation runs.
  const std::shared_ptr<const Timeline>& song() const { return song_; }
  const LineMatcher& matcher() const { return matcher_; }

  // Items stop being added once their sound texts, as compile's JSON writes them, would
  // pass this many bytes, so that no document can exhaust memory.
  static constexpr std::size_t kEventBudgetBytes = std::size_t{256} << 20;

 private:
  // Looked up by view, so that a text already known costs no copy.
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };
  struct TextIndex {
    std::unordered_map<std::string, std::int32_t, TextHash, std::equal_to<>> ids;
    std::int32_t last = -1;  // the id found last
  };
  void compileLine(std::string_view line, int lineNumber, const PadMap& padMap,
                   CompileListener* listener, bool& firstWaveSeen);
  // Every kind of line but the grid, in the order the compiler reads them.
  // `fields` are the section fields read with the tests; null where the patterns read it.
  void otherKinds(std::string_view line, const LineTests& tests,
                  const line_scan::SectionFields* fields, int lineNumber, CompileListener* listener,
                  bool& firstWaveSeen);
  void waveLine(std::string_view line, int lineNumber, bool& firstWaveSeen);
  void sectionLine(std::string_view line, const LineTests& tests,
                   const line_scan::SectionFields* fields, int lineNumber);
  // The swing and humanize items of a section line, into its part.
  void sectionExpression(std::string_view line, int lineNumber, TimelinePart& record);
  // A sticking line's characters into the current part's sticking, a step each.
  void stickingLine(std::string_view body);
  // The item of expression mark `c` at `column` of a grid line whose items are made
  // from `lineRef`: a whole item with its articulation, or where the line's drum cannot
  // take it (the check says so, at byte `at` of `line`) the plain hit of its level.
  TimelineItems::Packed markedItem(TimelineItems& items, std::uint32_t lineRef, char c,
                                   std::uint32_t column, std::string_view line, std::size_t at,
                                   int lineNumber);
  // `body` is the grid inside `line`.
  void expandGrid(const PadMap& padMap, std::string_view line, std::string_view body,
                  int lineNumber, CompileListener* listener);
  // A line's marks on timed steps, each with its item, and its bar lines.
  struct TimedMarks {
    std::int16_t duration;
    std::uint16_t music;
    bool pointSteps;  // each step points at its item
    std::uint32_t firstItem;
    std::uint32_t lineRef;
    std::uint32_t column;  // of the body's first character
  };
  // Reads body[p] on while it holds marks and bar lines and the steps have room, each
  // mark the step after `n`; returns where it stopped.
  // `skips` gets the body offset of every bar line read.
  static std::size_t readTimedMarks(const TimedMarks& marks, std::string_view body, std::size_t p,
                                    std::size_t end, std::vector<TimelineStep>& steps,
                                    TimelineItems::Packed* lineItems,
                                    std::vector<std::int32_t>& bars, std::size_t& n,
                                    std::size_t& rests, std::vector<std::uint32_t>& skips);
  // Marks of text[0, count) up to the first other character, each with its step and
  // item; returns how many.
  static std::size_t markRun(const char* text, std::size_t count, TimelineStep* steps,
                             TimelineItems::Packed* items, std::uint32_t lineRef,
                             std::uint32_t column, std::int16_t duration, std::uint16_t music,
                             std::size_t& rests);
  // Room in the current part's items for `count` more after itemCount_; returns where
  // they go. The part's items are kept at least that long while it is read, and cut to
  // itemCount_ when it ends.
  TimelineItems::Packed* itemRoom(std::vector<TimelineItems::Packed>& packed, std::size_t count) {
    if (packed.size() < itemCount_ + count) growItems(packed, count);
    return packed.data() + itemCount_;
  }
  void growItems(std::vector<TimelineItems::Packed>& packed, std::size_t count);
  // Without a listener, nobody reads the state while a compilation runs: the grid symbol
  // and the sound text are then copied into it only when they are read or it ends.
  void settleSymbol();
  void settleSound();
  const std::string& soundRef() const {
    return pendingSound_ < 0 ? state_.soundRef
                             : symbolSounds_[static_cast<std::size_t>(pendingSound_)].soundRef;
  }
  void forgetSymbolSounds();
  // What the compiler notes to word its problems, while a sink hears them; null otherwise.
  struct Checks;
  std::unique_ptr<Checks> checks_;
  // The problems of a line that passes no test: is it almost a grid line, or a voice line
  // in words of no voice?
  void checkRejectedLine(std::string_view line, int lineNumber);
  void checkAlmostGridLine(std::string_view line, int lineNumber);
  void checkAlmostSectionLine(std::string_view line, const LineTests& tests, int lineNumber);
  void checkGridLine(std::string_view line, std::string_view body, int lineNumber,
                     bool symbolDefined, std::size_t steps);
  // Out of line: expandGrid's loop keeps its registers.
  void checkBarsDisagree(std::string_view line, std::string_view body, int lineNumber);
  // Those of the parts and the song line, once the song is made.
  void checkSong();
  void songCharacterChecks();
  // A shape for the grid line being read, made of its number and its hit; returns it
  // as the high bits of its items' Packed::shape.
  std::uint32_t lineShape(int lineNumber, int utf16LessColumn);
  // Sets the sound of the grid symbol; false when the symbol names none, and the sound
  // before it stays.
  bool lookUpSound(const PadMap& padMap);
  // lookUpSound, remembered per symbol until a voice or wave-sample line changes what
  // symbols name; sets what a hit of the line sends: soundHit_ with the line's symbol.
  bool soundOfLine(const PadMap& padMap);
  // What a hit of the current sound sends, its symbol aside.
  TimelineItem hitOfSound();
  void beginPart();
  void finishPart();
  // The index in the current part's musics of `music`, added when new.
  std::uint32_t musicIndex(const StepMusic& music);
  // A grid line went back to a step that has an item: from now on every item's step is
  // kept, and the part's items are put in step order when it ends.
  void itemsOutOfOrder(const TimelinePart& part);
  void addItemRun(std::uint32_t firstItem, std::uint32_t firstStep, std::uint32_t count);
  // Whether every item run starts at step 0 and a pass per step over the runs is cheap.
  bool fromStepZero(std::size_t playable) const;
  std::int32_t intern(TextIndex& index, std::vector<std::string>& table, std::string_view text);
  // The duration of a step at the current tempo, note size and divisor, and the index of
  // its music in the current part: a divisor's duration is worked out once per tempo and note size,
  // its music once per part.
  struct DivisorMusic {
    bool known = false;
    std::int16_t divisor = 1;
    std::optional<std::int16_t> duration;
    bool musicKnown = false;  // `music` is of the current part
    std::uint32_t music = 0;
  };
  const DivisorMusic& divisorMusic();
  // The duration of a step at the current tempo, note size and divisor; none when it
  // divides by zero or does not fit 16 bits.
  std::optional<std::int16_t> stepDuration() const;

  LineMatcher matcher_;
  CompilerState state_;
  // What lookUpSound found for each grid symbol since the definitions last changed; few
  // symbols, so a short list searched in order.
  struct SymbolSound {
    std::string symbol;
    std::uint64_t head = 0;  // symbolHead(symbol)
    std::int32_t symbolId = -1;
    bool defined = false;
    std::string soundRef;  // when defined, with its voice and hit
    ItemVoice voice;
    TimelineItem hit;
    std::int32_t gridHit = -1;  // the index of its lines' hit in grid_->hits, once known
  };
  static constexpr std::size_t kSymbolSoundsKept = 64;
  std::vector<SymbolSound> symbolSounds_;
  bool deferState_ = false;
  std::string_view lineSymbol_;     // the grid line's symbol, in the text
  bool symbolPending_ = false;      // state_.gridSymbol is not yet lineSymbol_
  std::int32_t pendingSound_ = -1;  // the entry whose soundRef state_.soundRef is not yet
  TimelineItem soundHit_;           // hitOfSound() of the current sound
  bool soundHitKnown_ = false;
  std::int32_t lineSymbolId_ = -1;  // the grid line's symbol in the song's symbols
  // The symbolSounds_ entry whose hit the line's is; -1 for a symbol that names nothing.
  std::int32_t lineSound_ = -1;
  std::size_t eventBytes_ = 0;
  // Numeric values of partTempo, partNotes and partProgram, read when they change.
  double tempoValue_ = 0.0;
  double notesValue_ = 0.0;
  double programValue_ = 0.0;
  // Wave name -> index of its last entry in this compilation's wave table.
  std::unordered_map<std::string, std::size_t> lastWaveEntry_;
  TextIndex symbolIndex_;
  TextIndex soundIndex_;
  TextIndex fileIndex_;
  // While a part's items come in step order (one grid line), each step points at its
  // item as it is added. After that, runs of items added for consecutive steps (a grid
  // line's items are one run); items are put in step order when the part ends.
  struct ItemRun {
    std::uint32_t firstItem;
    std::uint32_t firstStep;
    std::uint32_t count;
  };
  std::vector<ItemRun> itemRuns_;
  bool itemsInOrder_ = true;
  std::int64_t lastItemStep_ = -1;
  // While items are in step order: their count when they are one grid line's, from step 0
  // and item 0 on; 0 otherwise.
  std::uint32_t inOrderRun_ = 0;
  struct MusicKey {
    double tempo;
    double noteSize;
    int divisor;
    bool operator==(const MusicKey&) const = default;
  };
  struct MusicHash {
    std::size_t operator()(const MusicKey& k) const {
      return std::hash<double>{}(k.tempo) * 31 + std::hash<double>{}(k.noteSize) * 7 +
             static_cast<std::size_t>(k.divisor);
    }
  };
  // Of the current part, once it has more musics than are looked through one by one.
  std::unordered_map<MusicKey, std::uint32_t, MusicHash> musicIndex_;
  static constexpr std::size_t kMusicsLookedThrough = 16;
  std::pair<MusicKey, std::uint32_t> lastMusic_{};  // index 0 while none was found
  // The current part's musics while it is read, reused from part to part.
  std::vector<StepMusic> partMusics_;
  // At the current tempo and note size; their musics of the current part.
  std::array<DivisorMusic, 4> divisorMusics_{};
  std::size_t nextDivisorMusic_ = 0;
  std::size_t lastDivisorMusic_ = 0;  // the entry found last
  int firstBarLine_ = 0;              // the grid line that gave the current part its bar lines
  bool barsDisagree_ = false;
  std::optional<Metre> writtenMetre_;   // of the current part's section line
  std::vector<std::int32_t> lineBars_;  // the bar lines of the grid line being read
  // The music of the current part's steps, run by run from step 0 (the last run goes on
  // past its steps): what finishPart makes the part's exact positions of. Each grid line
  // lays its own runs over them; a run of kKeptMusic leaves the music before.
  struct MusicRun {
    std::uint32_t firstStep;
    std::uint32_t music;
    bool operator==(const MusicRun&) const = default;
  };
  static constexpr std::uint32_t kKeptMusic = std::numeric_limits<std::uint32_t>::max();
  std::vector<MusicRun> partRuns_;
  std::vector<MusicRun> lineRuns_;
  std::vector<MusicRun> laidRuns_;  // reused by layLineRuns
  // The grid line's music from step `step` on (kKeptMusic for steps it times not).
  void lineMusicFrom(std::size_t step, std::uint32_t music) {
    const auto first = static_cast<std::uint32_t>(step);
    if (!lineRuns_.empty() && lineRuns_.back().firstStep == first) {
      lineRuns_.back().music = music;  // a bracket before any step of the last run
      if (lineRuns_.size() >= 2 && lineRuns_[lineRuns_.size() - 2].music == music)
        lineRuns_.pop_back();
    } else if (lineRuns_.empty() || lineRuns_.back().music != music) {
      lineRuns_.push_back(MusicRun{first, music});
    }
  }
  // Lays the grid line's runs, which end before step `end`, over the part's, which has
  // `stepCount` steps.
  void layLineRuns(std::size_t end, std::size_t stepCount);
  std::vector<PositionRun> positionRuns_;  // reused by makePositionRuns
  void makePositionRuns(TimelinePart& part);
  std::vector<std::uint32_t> itemCounts_;  // reused by finishPart
  // A part's items are made in this, which is kept from part to part, and
  // handed to the part at its final size when it ends: reading a part then allocates
  // little, and its items take no room to spare.
  std::vector<TimelineItems::Packed> spareItems_;
  std::size_t itemCount_ = 0;  // the current part's items so far
  // The grid lines of the compilation, shared by its parts' items.
  std::shared_ptr<TimelineItems::GridShapes> grid_;
  std::size_t lastHit_ = 0;  // the grid hit found last
  std::shared_ptr<const Timeline> song_;
  // The grid lines of the compilation as they are read, handed to its song.
  std::shared_ptr<GridModel> model_;
  // The model handed to the song; taken back by the next compilation when nobody else
  // holds it.
  std::shared_ptr<GridModel> lastModel_;
  std::size_t lineStart_ = 0;  // of the line being read, in the text
};

}  // namespace pulsewright
