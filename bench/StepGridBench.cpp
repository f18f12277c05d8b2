// Times the step grid: a click on the grid of a 112,000-line document to the changed
// text in the editor and the grid painted again, and the layout of a 64-step, 17-voice
// part. Prints medians in milliseconds and the machine's load. Runs offscreen.

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "grid/ui/StepGridPanel.h"
#include "padmap/DrumVoice.h"
#include "tablature/CompiledDocument.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

using namespace pulsewright;

namespace {

// The long document of bench/cli_bench.sh: parts of 12 grid lines, a remark every ten.
std::string longDocument() {
  const char* grids[] = {"|x-x-x-x-|x-x-x-x-|", "|--x---x-|--x---x-|", "|x---x---|x---x-x-|",
                         "|[xxx]-x-|o-X-5-9-|", "|X-------|--------|"};
  const char* symbols[] = {"h", "s", "k", "t1", "w1"};
  std::vector<std::string> lines = {
      "meta title = Generated", "k = kick drum", "s = snare",
      "h = closed hi-hat",      "t1 = tom 1",    "w1 = wave /samples/clap.wav pan -20"};
  int part = 0;
  while (lines.size() < 112000 - 1) {
    lines.push_back("part = " + std::string(1, static_cast<char>('A' + part % 26)) +
                    " tempo = 120 notes = 16");
    ++part;
    for (int g = 0; g < 12; ++g)
      lines.push_back(std::string(symbols[g % 5]) + " " + grids[(g + part) % 5]);
    if (part % 10 == 0)
      lines.emplace_back("This is a remark between parts, ignored by the compiler.");
  }
  lines.resize(112000 - 1);
  lines.emplace_back("song = ABCDEFGHIJ");
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

// Seventeen voices, each a 64-step line of four bars.
std::string wideDocument() {
  std::string text;
  for (std::size_t v = 0; v < kVoiceCount; ++v)
    text += "v" + std::to_string(v) + " = " + std::string(kVoiceCaptions[v]) + "\n";
  text += "part = A tempo = 120 notes = 16\n";
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    text += "v" + std::to_string(v) + " |";
    for (int bar = 0; bar < 4; ++bar) text += v % 2 ? "x-x-X-x-3-x-x-9-|" : "x---o---x---O---|";
    text += "\n";
  }
  return text + "song = A\n";
}

std::shared_ptr<const Timeline> compiled(const std::string& text) {
  TablatureCompiler compiler;
  CompileRequest request;
  request.sampleProblem = nullptr;
  request.diagnose = false;
  return compileDocument(compiler, joinLinesWithCrLf(text), request).song;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double msSince(const QElapsedTimer& t) {
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
  double load[3] = {0, 0, 0};

  {
    const std::string text = longDocument();
    QPlainTextEdit editor;
    editor.setPlainText(QString::fromStdString(text));
    StepGridPanel panel;
    QObject::connect(&panel, &StepGridPanel::editRequested, [&](std::vector<TextChange> c) {
      applyToEditor(editor, panel.model().editorChanges(c));
    });
    panel.resize(900, 400);
    panel.show();
    panel.showPartAtLine(56000);
    std::shared_ptr<const Timeline> song = compiled(text);
    panel.setCompiled(song);
    StepGridView* view = panel.view();
    QApplication::processEvents();
    std::printf("long document: 112000 lines, part %s shown, %zu rows x %d steps\n",
                panel.model().partName().c_str(), panel.model().rows().size(),
                panel.model().columnCount());
    // The first click after a compilation, which takes the compiled text for its edits,
    // and clicks after it, before the next compilation.
    std::vector<double> first;
    std::vector<double> next;
    for (int r = 0; r < std::max(3, runs / 4); ++r) {
      panel.setCompiled(compiled(editor.toPlainText().toStdString()));
      for (int k = 0; k < 4; ++k) {
        const int row = k % static_cast<int>(panel.model().rows().size());
        const int step = (r * 4 + k) % panel.model().columnCount();
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(view, Qt::LeftButton, {}, view->cellRect(row, step).center());
        view->repaint();
        (k == 0 ? first : next).push_back(msSince(t));
      }
    }
    std::printf(
        "click to changed text and repainted grid: first after a compile %.2f ms, "
        "later %.2f ms (medians of %zu and %zu)\n",
        median(first), median(next), first.size(), next.size());
  }

  {
    const std::string text = wideDocument();
    std::shared_ptr<const Timeline> song = compiled(text);
    StepGridPanel panel;
    panel.resize(1600, 500);
    panel.show();
    QApplication::processEvents();
    std::vector<double> layout;
    std::vector<double> painted;
    for (int r = 0; r < runs; ++r) {
      QElapsedTimer t;
      t.start();
      panel.model().setCompiled(song);
      layout.push_back(msSince(t));
      panel.refresh();
      panel.view()->repaint();
      painted.push_back(msSince(t));
    }
    std::printf(
        "64-step, 17-voice part (%zu rows x %d steps): laid out %.3f ms, laid out and "
        "painted %.2f ms (medians of %d)\n",
        panel.model().rows().size(), panel.model().columnCount(), median(layout), median(painted),
        runs);
  }
  if (getloadavg(load, 3) == 3)
    std::printf("load average %.2f %.2f %.2f on %d cores\n", load[0], load[1], load[2],
                QThread::idealThreadCount());
  return 0;
}
