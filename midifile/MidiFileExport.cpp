#include "midifile/MidiFileExport.h"

#include "fileio/OutputFile.h"
#include "midifile/StandardMidiFile.h"
#include "midifile/TimelineMidi.h"

namespace pulsewright {

MidiExportResult exportMidiFile(const CompiledDocument& compiled, const std::string& path,
                                int channel, const std::vector<std::string>& inputs) {
  MidiExportResult result;
  if (compiled.song == nullptr || !compiled.song->playable()) {
    result.status = MidiExportResult::Status::kNothingToPlay;
    result.message = "nothing to play";
    return result;
  }
  // Written as it is made: a short document can make a file of hundreds of megabytes.
  OutputFile file;
  MidiFileSummary summary;
  const bool written =
      file.open(path, inputs, &result.message) &&
      streamStandardMidiFile(
          midiFileTextOf(compiled.metadata),
          [&compiled](const std::function<void(const MidiFileStep&)>& step) {
            forEachMidiFileStep(*compiled.song, step);
          },
          channel, [&](std::string_view bytes) { return file.write(bytes, &result.message); },
          &summary) &&
      file.commit(&result.message);
  result.samplesLeftOut = summary.samplesLeftOut;
  if (!written) {
    file.abort();
    if (result.message.empty()) result.message = "the song changed while it was written";
    result.status = MidiExportResult::Status::kCannotWrite;
  }
  return result;
}

}  // namespace pulsewright
