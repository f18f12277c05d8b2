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
  MidiFileSummary summary;
  const std::string bytes =
      writeStandardMidiFile(midiFileSongOf(*compiled.song, compiled.metadata), channel, &summary);
  result.samplesLeftOut = summary.samplesLeftOut;
  if (!writeOutputFile(path, bytes, inputs, &result.message)) {
    result.status = MidiExportResult::Status::kCannotWrite;
  }
  return result;
}

}  // namespace pulsewright
