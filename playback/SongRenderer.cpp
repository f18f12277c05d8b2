#include "playback/SongRenderer.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/AudioFileWriter.h"
#include "platform/EngineSoundOutput.h"
#include "playback/SamplePlayer.h"
#include "tablature/Expression.h"

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

// Renders the song once, from nothing: a synthesiser, samples and engine of its own, so
// that two passes give the same frames. Each block goes to `sink`; false from it stops
// the pass. Notes for the user go to `notes` when given; the time spent loading the sound
// font and samples is added to `loadSeconds`.
bool renderPass(const Timeline& timeline, std::int64_t firstMs, const RenderSettings& settings,
                std::vector<std::string>* notes,
                const std::function<bool(std::vector<float>&)>& sink, double* loadSeconds) {
  const auto loadStarted = std::chrono::steady_clock::now();
  const int rate = settings.sampleRate;
  EngineSoundOutput output(rate);
  AudioEngine& engine = output.engine();
  const DueTime epoch{};
  engine.setEpoch(epoch);

  SamplePlayer samples(output);
  samples.listDevices();
  samples.setDocumentFolder(settings.documentFolder);
  samples.setNotice([&](const std::string& text) {
    if (notes) notes->push_back(text);
  });
  samples.beginPlay();
  samples.preloadSong(timeline.sampleFiles());

  FluidSynthOutput synth(&output, settings.kit.soundFonts(settings.soundFonts));
  settings.kit.applyTo(synth);
  synth.setNotice([&](const std::string& text) {
    if (notes) notes->push_back(text);
  });
  MidiHandle handle = 0;
  if (synth.open(kMidiMapperId, &handle) != midi_result::kOk && songHasNotes(timeline) && notes) {
    notes->push_back("no sound font could be loaded: the drums are silent");
  }

  *loadSeconds +=
      std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStarted).count();
  std::vector<float> block(2 * kBlock);
  auto renderBlock = [&](float* peak) {
    engine.renderOffline(block.data(), kBlock);
    if (peak) {
      float p = 0;
      for (float v : block) p = std::max(p, std::abs(v));
      *peak = p;
    }
    return sink(block);
  };

  RenderStepOutput stepOutput(synth, handle, settings.channel, samples);
  Timeline::Cursor cursor = timeline.begin();
  TimelineTick tick;
  std::int64_t lastFrame = 0;
  // Grace notes and humanized hits come before their tick: a song that has them is
  // rendered only up to where they may start.
  const bool expressive = std::any_of(timeline.parts().begin(), timeline.parts().end(),
                                      [](const TimelinePart& part) { return part.expressive; });
  const std::int64_t leadFrames = expressive ? (std::int64_t{kExpressionLeadMs} * rate) / 1000 : 0;
  while (cursor.next(&tick)) {
    const std::int64_t ms = tick.timeMs - firstMs;
    lastFrame = (ms * rate + 500) / 1000;
    // Events go in a block or so ahead of their frame; the engine holds them until then.
    while (engine.position() + kBlock <= lastFrame - leadFrames) {
      if (!renderBlock(nullptr)) return false;
    }
    // Nothing before the first frame: a grace of the first tick sounds at its start.
    playTick(timeline, tick, stepOutput, epoch + std::chrono::milliseconds(ms), nullptr, epoch);
  }
  // Ring out: at least past the last tick, then until a silent block or the limit.
  const std::int64_t limit = lastFrame + static_cast<std::int64_t>(kRenderTailSeconds * rate);
  for (;;) {
    float peak = 0;
    if (!renderBlock(&peak)) return false;
    const std::int64_t at = engine.position();
    if (at > lastFrame && peak < kSilence && !engine.samplesBusy()) break;
    if (at >= limit) break;
  }
  if (handle != 0) synth.close(handle);
  return true;
}

std::int64_t firstTickMs(const Timeline& timeline) {
  Timeline::Cursor cursor = timeline.begin();
  TimelineTick tick;
  return cursor.next(&tick) ? tick.timeMs : 0;
}

double decibels(float peak) {
  return peak > 0 ? 20.0 * std::log10(static_cast<double>(peak)) : -200.0;
}

}  // namespace

double songSeconds(const Timeline& timeline) {
  if (!timeline.playable()) return 0;
  return static_cast<double>(timeline.lastTickMs() - firstTickMs(timeline)) / 1000.0;
}

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
  const std::int64_t firstMs = firstTickMs(timeline);
  const std::int64_t lastFrame = ((timeline.lastTickMs() - firstMs) * rate + 500) / 1000;
  const auto maxFrames = static_cast<std::uint64_t>(
      lastFrame + static_cast<std::int64_t>(kRenderTailSeconds * rate) + 2 * kBlock);

  // The document and the song's samples are read: the output may be none of them.
  std::vector<std::string> inputs = settings.inputs;
  inputs.insert(inputs.end(), timeline.sampleFiles().begin(), timeline.sampleFiles().end());
  AudioFileWriter writer;
  std::string error;
  if (!writer.open(path, rate, maxFrames, inputs, &error)) {
    result.status = RenderResult::Status::kCannotWrite;
    result.message = "cannot write " + path + ": " + error;
    return result;
  }

  const auto started = std::chrono::steady_clock::now();
  double loadSeconds = 0;
  const int passes = settings.normalize ? 2 : 1;
  const double expectedFrames = static_cast<double>(lastFrame) + rate;
  long passFrames = 0;
  int pass = 0;
  auto goOn = [&] {
    passFrames += kBlock;
    const double fraction = std::min(1.0, static_cast<double>(passFrames) / expectedFrames);
    if (progress && !progress((pass + fraction) / passes)) {
      result.status = RenderResult::Status::kCancelled;
      result.message = "cancelled";
      return false;
    }
    return true;
  };

  // Normalising needs the song's peak before the first frame is written: a first pass
  // measures it, the second writes (the render is exact, so both hear the same frames).
  float gain = static_cast<float>(std::pow(10.0, settings.gainDb / 20.0));
  if (settings.normalize) {
    float peak = 0;
    if (!renderPass(
            timeline, firstMs, settings, &result.notes,
            [&](std::vector<float>& block) {
              for (float v : block) peak = std::max(peak, std::abs(v));
              return goOn();
            },
            &loadSeconds)) {
      return result;
    }
    if (peak > 0) {
      gain = static_cast<float>(std::pow(10.0, kNormalizedPeakDb / 20.0) / peak);
    } else {
      gain = 1;
      result.notes.push_back("the song is silent: there is nothing to normalise");
    }
    ++pass;
    passFrames = 0;
  }

  float peak = 0;
  long clipped = 0;
  const bool written = renderPass(
      timeline, firstMs, settings, settings.normalize ? nullptr : &result.notes,
      [&](std::vector<float>& block) {
        for (float& v : block) {
          v *= gain;
          peak = std::max(peak, std::abs(v));
          if (v > 1.0f || v < -1.0f) ++clipped;
        }
        if (!writer.write(block.data(), kBlock, &error)) {
          result.status = RenderResult::Status::kCannotWrite;
          result.message = "cannot write " + path + ": " + error;
          return false;
        }
        result.frames += kBlock;
        return goOn();
      },
      &loadSeconds);
  if (!written) return result;
  result.peakDb = decibels(peak);
  if (clipped > 0) {
    result.notes.push_back(
        std::to_string(clipped) + " samples clipped at full scale: the gain is " +
        std::to_string(static_cast<int>(std::ceil(result.peakDb))) + " dB too high");
  }
  if (!writer.commit(&error)) {
    result.status = RenderResult::Status::kCannotWrite;
    result.message = "cannot write " + path + ": " + error;
    return result;
  }
  result.renderSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() -
      loadSeconds;
  if (progress) progress(1.0);
  return result;
}

}  // namespace pulsewright
