#include "midifile/MidiFileExport.h"

#include "fileio/OutputFile.h"
#include "midifile/StandardMidiFile.h"
#include "midifile/TimelineMidi.h"

namespace pulsewright {

MidiExportResult exportMidiFile(const CompiledDocument& compiled, const std::string& path,
                                int channel, const std::vector<std::string>& inputs,
                                const std::function<bool()>& keepGoing) {
  MidiExportResult result;
  if (compiled.song == nullptr || !compiled.song->playable()) {
    result.status = MidiExportResult::Status::kNothingToPlay;
    result.message = "nothing to play";
    return result;
  }
  // Written as it is made: a short document can make a file of hundreds of megabytes.
  OutputFile file;
  MidiFileSummary summary;
  const bool written = file.open(path, inputs, &result.message) &&
                       streamStandardMidiFile(
                           midiFileTextOf(compiled.metadata),
                           [&](const std::function<void(const MidiFileStep&)>& step) {
                             // Once stopped, the rest of the walk is skipped: nothing more is
                             // written.
                             forEachMidiFileStep(*compiled.song, [&](const MidiFileStep& s) {
                               if (!keepGoing || keepGoing()) step(s);
                             });
                           },
                           channel,
                           [&](std::string_view bytes) {
                             if (keepGoing && !keepGoing()) {
                               result.message = "stopped";
                               return false;
                             }
                             return file.write(bytes, &result.message);
                           },
                           &summary) &&
                       (!keepGoing || keepGoing()) && file.commit(&result.message);
  result.samplesLeftOut = summary.samplesLeftOut;
  if (!written) {
    file.abort();
    if (result.message.empty()) result.message = "the song changed while it was written";
    result.status = MidiExportResult::Status::kCannotWrite;
  }
  return result;
}

}  // namespace pulsewright
