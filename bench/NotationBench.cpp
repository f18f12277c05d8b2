// Drum notation, median times: MusicXML export of a 1,000-bar song (compile, score and
// writer, then the writer alone), a 32-bar song to an A4 PDF (compile, score, pages and
// the PDF's bytes), and engraving one part of 8 and of 64 bars as the staff view does at
// each keystroke (compile, score, layout and, with the windows built, drawing into an
// image).
// Usage: pw_bench_notation [runs]

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "notation/Engraving.h"
#include "notation/MusicXml.h"
#include "notation/PdfScore.h"
#include "notation/Score.h"
#include "padmap/PadMap.h"
#include "tablature/CompiledDocument.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"

#ifdef PW_BENCH_PAINT
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "notation/ui/StaffPainter.h"
#endif

using namespace pulsewright;

namespace {

// Four one-bar parts (sixteenths, a triplet fill, an accent and ghost notes) and a song
// line that plays them `bars` times in all.
std::string songDocument(int bars) {
  std::string text =
      "meta title = Generated\r\nk = kick drum\r\ns = snare\r\nh = closed hi-hat\r\n"
      "o = open hat\r\nt1 = tom 1\r\n";
  const char* names[] = {"A", "B", "C", "D"};
  for (int p = 0; p < 4; ++p) {
    text += std::string("part = ") + names[p] + " tempo = " + std::to_string(96 + 8 * (p / 2)) +
            " notes = 16\r\n";
    if (p == 3) {
      text += "t1 |xxxx[xxx]-x-x[xxx]-x|\r\nk |X---[---]X---[---]--|\r\n";
      continue;
    }
    text += "h |x-x-x-x-x-x-x-x-|\r\no |--------------x-|\r\n";
    text += "s |----X--2-2--X---|\r\nk |X-----x---X-----|\r\n";
  }
  text += "song = ";
  for (int i = 0; i < bars; ++i) text += names[i % 4];
  return text + "\r\n";
}

// One part of `bars` bars of sixteenths.
std::string partDocument(int bars) {
  std::string h = "h |", s = "s |", k = "k |";
  for (int b = 0; b < bars; ++b) {
    h += "x-x-x-x-x-x-x-x-|";
    s += b % 4 == 3 ? "----X--2-2--[XXX]-|" : "----X--2-2--X---|";
    k += b % 4 == 3 ? "X-----x---X-[---]-|" : "X-----x---X-----|";
  }
  return "k = kick drum\r\ns = snare\r\nh = closed hi-hat\r\npart = A tempo = 100 notes = 16\r\n" +
         h + "\r\n" + s + "\r\n" + k + "\r\n";
}

// The processor time of the last medianMs() run's median, in ms: on a shared machine the
// wall time counts the other programs' turns as well. Beside it, what tells where the
// rest of the wall time went: page faults (memory first touched), waits for input or
// output, and the times the process was made to give the processor to another.
double lastCpuMs = 0;
long lastFaults = 0, lastWaits = 0, lastPreempted = 0;

double medianMs(int runs, const std::function<void()>& work) {
  struct Run {
    double ms, cpuMs;
    long faults, waits, preempted;
    bool operator<(const Run& o) const { return ms < o.ms; }
  };
  std::vector<Run> times;
  for (int r = 0; r < runs; ++r) {
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const std::clock_t cpu = std::clock();
    const auto start = std::chrono::steady_clock::now();
    work();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    ::getrusage(RUSAGE_SELF, &after);
    times.push_back({ms, cpuMs,
                     after.ru_minflt + after.ru_majflt - before.ru_minflt - before.ru_majflt,
                     after.ru_nvcsw - before.ru_nvcsw, after.ru_nivcsw - before.ru_nivcsw});
  }
  std::sort(times.begin(), times.end());
  const Run& median = times[times.size() / 2];
  lastCpuMs = median.cpuMs;
  lastFaults = median.faults;
  lastWaits = median.waits;
  lastPreempted = median.preempted;
  return median.ms;
}

// The machine's load, for reading the wall times.
std::string loadAverage() {
  double load[3] = {0, 0, 0};
  if (::getloadavg(load, 3) != 3) return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
#ifdef PW_BENCH_PAINT
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
#endif
  const PadMap padMap = defaultPadMap();

  const std::string song = songDocument(1000);
  std::size_t bytes = 0;
  std::size_t measures = 0;
  const double exportMs = medianMs(runs, [&] {
    const Score score = scoreOfDocument(song, padMap);
    measures = score.measures.size();
    bytes = writeMusicXml(score).size();
  });
  const double exportCpuMs = lastCpuMs;
  const long exportFaults = lastFaults, exportWaits = lastWaits, exportPreempted = lastPreempted;
  const Score score = scoreOfDocument(song, padMap);
  const double writerMs = medianMs(runs, [&] { bytes = writeMusicXml(score).size(); });
  std::printf("load average %s on %ld processors\n", loadAverage().c_str(),
              ::sysconf(_SC_NPROCESSORS_ONLN));
  std::printf(
      "MusicXML export, %zu measures (%zu bytes): %.2f ms whole (cpu %.2f; %ld page faults, %ld "
      "waits, %ld times preempted), %.2f ms writer alone (cpu %.2f; %ld faults, %ld preempted)\n",
      measures, bytes, exportMs, exportCpuMs, exportFaults, exportWaits, exportPreempted, writerMs,
      lastCpuMs, lastFaults, lastPreempted);

  const std::string short32 = songDocument(32);
  PdfScore pdf;
  const double pdfMs =
      medianMs(runs, [&] { pdf = pdfOfScore(scoreOfDocument(short32, padMap), Paper::A4); });
  std::printf("32-bar song to PDF (%zu bytes, %d pages): %.2f ms (cpu %.2f)\n", pdf.bytes.size(),
              pdf.pages, pdfMs, lastCpuMs);

  for (const int bars : {8, 64}) {
    const std::string text = partDocument(bars);
    TablatureCompiler compiler;
    Engraving e;
    double compileMs = 0, scoreMs = 0, layoutMs = 0;
    const double engraveMs = medianMs(runs, [&] {
      auto t0 = std::chrono::steady_clock::now();
      compiler.reset();
      CompileRequest request;
      request.padMap = padMap;
      request.diagnose = false;
      const CompiledDocument compiled = compileDocument(compiler, text, request);
      auto t1 = std::chrono::steady_clock::now();
      const Score part = buildPartScore({*compiled.song, compiled.metadata, text}, 1);
      auto t2 = std::chrono::steady_clock::now();
      e = engrave(part, 90.0);
      auto t3 = std::chrono::steady_clock::now();
      compileMs = std::chrono::duration<double, std::milli>(t1 - t0).count();
      scoreMs = std::chrono::duration<double, std::milli>(t2 - t1).count();
      layoutMs = std::chrono::duration<double, std::milli>(t3 - t2).count();
    });
    std::printf(
        "engraving %d bars (%zu heads): %.2f ms (cpu %.2f; last run: compile %.2f, score %.2f, "
        "layout %.2f)\n",
        bars, e.heads.size(), engraveMs, lastCpuMs, compileMs, scoreMs, layoutMs);
#ifdef PW_BENCH_PAINT
    // The view draws what its window shows: one screenful of systems.
    QImage image(900, 600, QImage::Format_ARGB32_Premultiplied);
    const double drawMs = medianMs(runs, [&] {
      image.fill(Qt::white);
      QPainter painter(&image);
      painter.setClipRect(image.rect());
      paintEngraving(painter, e, QPointF(0, 0), 10.0, Qt::black);
    });
    std::printf("drawing %d bars, one 900x600 screen: %.2f ms\n", bars, drawMs);
#endif
  }
  return 0;
}
