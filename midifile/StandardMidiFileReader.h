#pragma once
// Reads a Standard MIDI File (type 0 or 1, ticks per quarter note) into what an import
// needs: the notes that sound, the tempo map, the time and key signatures, the program
// changes and the text events. Every read is checked against the end of its chunk, so a
// broken file is refused with the byte offset of what is wrong and nothing is read past
// the end of the bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pulsewright {

struct MidiFileNoteOn {
  std::int64_t tick = 0;
  std::uint16_t track = 0;
  std::uint8_t channel = 0;  // 0-15
  std::uint8_t key = 0;
  std::uint8_t velocity = 0;  // 1-127: a velocity of 0 is a note off and is not kept
};

// Polyphonic key pressure: electronic kits send 127 then 0 on a cymbal's key when it is
// grabbed (choked).
struct MidiFileKeyPressure {
  std::int64_t tick = 0;
  std::uint8_t channel = 0;
  std::uint8_t key = 0;
  std::uint8_t pressure = 0;
};

struct MidiFileTempo {
  std::int64_t tick = 0;
  std::uint32_t microsecondsPerQuarter = 500000;
};

struct MidiFileTimeSignature {
  std::int64_t tick = 0;
  int numerator = 4;
  int denominator = 4;  // the note value: 2, 4, 8, ...
};

struct MidiFileKeySignature {
  std::int64_t tick = 0;
  int sharps = 0;  // negative for flats
  bool minor = false;
};

struct MidiFileProgram {
  std::int64_t tick = 0;
  std::uint8_t channel = 0;
  std::uint8_t program = 0;
};

struct MidiFileText {
  std::int64_t tick = 0;
  std::uint16_t track = 0;
  std::uint8_t type = 0;  // 1 text, 2 copyright, 3 sequence or track name, 4-7 the others
  std::string text;       // as stored, in no particular encoding
};

struct MidiFileContents {
  int format = 0;
  int division = 0;  // ticks per quarter note
  int tracks = 0;    // track chunks read
  // Each list in file order, track after track (a tick's order is the file's).
  std::vector<MidiFileNoteOn> notes;
  std::vector<MidiFileKeyPressure> keyPressures;
  std::vector<MidiFileTempo> tempi;
  std::vector<MidiFileTimeSignature> signatures;
  std::vector<MidiFileKeySignature> keys;
  std::vector<MidiFileProgram> programs;
  std::vector<MidiFileText> texts;
  std::int64_t endTick = 0;  // the latest end of track
};

// The bytes of a Standard MIDI File, or of a RIFF file that wraps one ("RMID").
bool looksLikeMidiFile(std::string_view bytes);

// Whether a file's name says it holds MIDI (.mid, .midi, .kar, .rmi or .smf, in any case):
// such a file that does not look like one is refused, never read as text.
bool hasMidiFileName(std::string_view path);

// False with *error set ("the chunk at byte 22 ...") when the bytes are no Standard MIDI
// File this program reads: no header, SMPTE time, format 2, a truncated or overlong
// chunk, a malformed event or a track without its end.
bool readStandardMidiFile(std::string_view bytes, MidiFileContents* contents, std::string* error);

}  // namespace pulsewright
