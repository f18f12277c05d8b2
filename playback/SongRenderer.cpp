#include "playback/SongRenderer.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/AudioFileWriter.h"
#include "platform/EngineSoundOutput.h"
#include "playback/SamplePlayer.h"

namespace pulsewright {

namespace {

constexpr int kBlock = 1024;
// Below this peak a block is silence: under one step of 16-bit audio.
constexpr float kSilence = 1.0f / 32768.0f;

class RenderStepOutput : public StepOutput {
 public:
  RenderStepOutput(FluidSynthOutput& synth, MidiHandle handle, int channel, SamplePlayer& samples)
      : synth_(synth), handle_(handle), channel_(channel), samples_(samples) {}
  void sendChannelMessage(int kind, int data1, int data2, DueTime due) override {
    if (handle_ == 0) return;
    synth_.sendShortAt(handle_,
                       static_cast<std::uint32_t>(kind) + static_cast<std::uint32_t>(channel_) +
                           static_cast<std::uint32_t>(data1) * 256u +
                           static_cast<std::uint32_t>(data2) * 65536u,
                       due);
  }
  void playSample(const std::string& file, std::int16_t volume, std::int16_t pan,
                  DueTime due) override {
    samples_.PlayB(file, volume, pan, due);
  }

 private:
  FluidSynthOutput& synth_;
  MidiHandle handle_;
  int channel_;
  SamplePlayer& samples_;
};

bool songHasNotes(const Timeline& timeline) {
  for (const TimelinePart& part : timeline.parts()) {
    if (part.sendsProgram()) return true;
    for (const TimelineItem& item : part.items) {
      if (item.kind == TimelineItem::Kind::Note) return true;
    }
  }
  return false;
}

}  // namespace

RenderResult renderSong(const Song& song, const std::string& path, const RenderSettings& settings,
                        const std::function<bool(double)>& progress) {
  RenderResult result;
  const Timeline& timeline = song.timeline;
  if (!timeline.playable()) {
    result.status = RenderResult::Status::kNothingToPlay;
    result.message = "nothing to play: the song has no first part with steps";
    return result;
  }
  const int rate = settings.sampleRate;
  EngineSoundOutput output(rate);
  AudioEngine& engine = output.engine();
  const DueTime epoch{};
  engine.setEpoch(epoch);

  SamplePlayer samples(output);
  samples.listDevices();
  samples.setNotice([&](const std::string& text) { result.notes.push_back(text); });
  samples.beginPlay();
  samples.preloadSong(timeline.sampleFiles());

  FluidSynthOutput synth(&output, settings.soundFonts);
  synth.setNotice([&](const std::string& text) { result.notes.push_back(text); });
  MidiHandle handle = 0;
  if (synth.open(kMidiMapperId, &handle) != midi_result::kOk && songHasNotes(timeline)) {
    result.notes.push_back("no sound font could be loaded: the drums are silent");
  }

  AudioFileWriter writer;
  std::string error;
  if (!writer.open(path, rate, &error)) {
    result.status = RenderResult::Status::kCannotWrite;
    result.message = "cannot write " + path + ": " + error;
    return result;
  }

  const auto started = std::chrono::steady_clock::now();
  std::vector<float> block(2 * kBlock);
  const double totalFrames = static_cast<double>(timeline.lastTickMs()) * rate / 1000 + rate;
  auto renderBlock = [&](float* peak) {
    engine.renderOffline(block.data(), kBlock);
    if (peak) {
      float p = 0;
      for (float v : block) p = std::max(p, std::abs(v));
      *peak = p;
    }
    if (!writer.write(block.data(), kBlock, &error)) {
      result.status = RenderResult::Status::kCannotWrite;
      result.message = "cannot write " + path + ": " + error;
      return false;
    }
    result.frames += kBlock;
    if (progress && !progress(std::min(1.0, static_cast<double>(result.frames) / totalFrames))) {
      result.status = RenderResult::Status::kCancelled;
      result.message = "cancelled";
      return false;
    }
    return true;
  };

  RenderStepOutput stepOutput(synth, handle, settings.channel, samples);
  Timeline::Cursor cursor = timeline.begin();
  TimelineTick tick;
  std::int64_t lastFrame = 0;
  while (cursor.next(&tick)) {
    lastFrame = (tick.timeMs * rate + 500) / 1000;
    // Events go in a block or so ahead of their frame; the engine holds them until then.
    while (engine.position() + kBlock <= lastFrame) {
      if (!renderBlock(nullptr)) return result;
    }
    playTick(timeline, tick, stepOutput, epoch + std::chrono::milliseconds(tick.timeMs));
  }
  // Ring out: at least past the last tick, then until a silent block or the limit.
  const std::int64_t limit = lastFrame + static_cast<std::int64_t>(kRenderTailSeconds * rate);
  for (;;) {
    float peak = 0;
    if (!renderBlock(&peak)) return result;
    const std::int64_t at = engine.position();
    if (at > lastFrame && peak < kSilence && !engine.samplesBusy()) break;
    if (at >= limit) break;
  }
  if (handle != 0) synth.close(handle);
  if (!writer.commit(&error)) {
    result.status = RenderResult::Status::kCannotWrite;
    result.message = "cannot write " + path + ": " + error;
    return result;
  }
  result.renderSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (progress) progress(1.0);
  return result;
}

}  // namespace pulsewright
