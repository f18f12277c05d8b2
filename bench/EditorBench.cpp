// The tablature editor on a generated 10,000-line document, offscreen: a full pass of
// highlighting and of diagnostics, one keystroke, the playing characters of one step,
// a 1 MB single line, and a document at the size limit opened (set at once, and loaded aside
// as the window loads it), checked and scrolled. Prints medians in milliseconds.
// Usage: pw_bench_editor [runs] [limit|builds]   (limit: only the document at the size
// limit; builds: only the ways of building its document)

#include <QApplication>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "editor/EditorText.h"
#include "editor/TablatureEditor.h"
#include "editor/TablatureHighlighter.h"
#include "tablature/Diagnostics.h"
#include "text/DocumentText.h"

using namespace pulsewright;

namespace {

QString generateDocument(int lineCount, std::vector<int>* gridLines) {
  static const char* kGrids[] = {"|x-x-x-x-|x-x-x-x-|", "|--x---x-|--x---x-|",
                                 "|x---x---|x---x-x-|", "|[xx]x-x-x-|o-X-5-9-|",
                                 "|X-------|--------|"};
  static const char* kSymbols[] = {"h", "s", "k", "t1", "w1"};
  QStringList lines;
  lines << "meta title = Generated"
        << "k = kick drum"
        << "s = snare"
        << "h = closed hi-hat"
        << "t1 = tom 1"
        << "w1 = wave clap.wav pan -20";
  int part = 0;
  while (lines.size() < lineCount - 1) {
    lines << QStringLiteral("part = %1 tempo = 120 notes = 16").arg(QChar('A' + part % 26));
    ++part;
    for (int g = 0; g < 12 && lines.size() < lineCount - 1; ++g) {
      if (part == 400) gridLines->push_back(static_cast<int>(lines.size()) + 1);
      lines << QString(kSymbols[g % 5]) + " " + kGrids[(g + part) % 5];
    }
    if (part % 10 == 0) lines << "A remark between parts, a line of no kind.";
    if (part % 7 == 0) lines << "q |x-x-g-x-|";  // a problem now and then
  }
  lines << "song = ABCDEFGHIJ";
  return lines.join('\n');
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Resident memory now, in megabytes.
long residentMb() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  long pages = 0;
  long resident = 0;
  if (f != nullptr) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * 4096 / (1 << 20);
}

// Time this thread has run: what a loaded machine does not add to.
double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

template <typename F>
double timeMs(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  const auto t1 = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

// A document at the size limit, as the window opens it: shown, then checked in the
// background while the user may already scroll and type.
void benchDocumentAtTheLimit(int runs) {
  std::vector<int> unused;
  const QString huge = generateDocument(700000, &unused);
  std::vector<double> plainShown;
  std::vector<double> plainCpu;
  for (int r = 0; r < std::max(1, runs / 3); ++r) {
    QPlainTextEdit e;
    e.resize(900, 700);
    e.show();
    QApplication::processEvents();
    const double cpu = threadCpuMs();
    plainShown.push_back(timeMs([&] {
      e.setPlainText(huge);
      QApplication::processEvents();
    }));
    plainCpu.push_back(threadCpuMs() - cpu);
  }
  std::vector<double> hugeShown;
  std::vector<double> hugeCpu;
  std::vector<double> hugeChecked;
  std::vector<double> hugeScroll;
  std::vector<double> hugeStall;
  for (int r = 0; r < std::max(1, runs / 3); ++r) {
    TablatureEditor e;
    e.resize(900, 700);
    e.show();
    QApplication::processEvents();
    bool checked = false;
    QObject::connect(&e, &TablatureEditor::diagnosticsChanged, [&] { checked = true; });
    const auto t0 = std::chrono::steady_clock::now();
    const double cpu = threadCpuMs();
    e.setPlainText(huge);
    QApplication::processEvents();
    hugeCpu.push_back(threadCpuMs() - cpu);
    const long shownMb = residentMb();
    hugeShown.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    // The longest the event loop is held up while the check runs.
    double longest = 0;
    while (!checked) {
      longest = std::max(
          longest, timeMs([] { QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20); }));
    }
    hugeStall.push_back(longest);
    std::printf("  resident: %ld MB shown, %ld MB checked\n", shownMb, residentMb());
    hugeChecked.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    hugeScroll.push_back(timeMs([&] {
      e.verticalScrollBar()->setValue(e.verticalScrollBar()->maximum() / 2);
      QApplication::processEvents();
    }));
  }
  // As the window opens it: the whole text at once in a read-only preview, laid out aside
  // and taken in when it is ready.
  std::vector<double> loadedFirst;
  std::vector<double> loadedWhole;
  std::vector<double> loadedStall;
  for (int r = 0; r < std::max(1, runs / 3); ++r) {
    TablatureEditor e;
    e.resize(900, 700);
    e.show();
    QApplication::processEvents();
    // The longest the event loop goes without turning: a timer meant to fire every 2 ms
    // notes the longest gap between its ticks. The loop sleeps while it has nothing to
    // do, leaving the cores to the loading.
    QTimer beat;
    beat.setInterval(2);
    auto last = std::chrono::steady_clock::now();
    double longest = 0;
    QObject::connect(&beat, &QTimer::timeout, [&] {
      const auto now = std::chrono::steady_clock::now();
      longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
      last = now;
    });
    const auto t0 = std::chrono::steady_clock::now();
    last = t0;
    beat.start();
    e.loadText(huge);
    QApplication::processEvents();
    loadedFirst.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    while (e.isLoading()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const auto whole = std::chrono::steady_clock::now();
    loadedWhole.push_back(std::chrono::duration<double, std::milli>(whole - t0).count());
    // The taking in of the whole text ends the wait: its gap has no tick after it.
    longest = std::max(longest, std::chrono::duration<double, std::milli>(whole - last).count());
    beat.stop();
    loadedStall.push_back(longest);
  }
  std::printf("16 MB document (%lld characters):\n", static_cast<long long>(huge.size()));
  std::printf(
      "  loaded aside, whole and editable: median %7.1f ms (shown whole, read-only, %.1f ms; "
      "budget 2000)\n",
      median(loadedWhole), median(loadedFirst));
  std::printf("  longest wait of the event loop:   median %7.1f ms (while loading)\n",
              median(loadedStall));
  std::printf("  shown in a plain editor:        median %7.1f ms (%.1f ms on this thread)\n",
              median(plainShown), median(plainCpu));
  std::printf("  shown by setPlainText:           median %7.1f ms (%.1f ms on this thread)\n",
              median(hugeShown), median(hugeCpu));
  std::printf("  checked, problems listed:       median %7.1f ms\n", median(hugeChecked));
  std::printf("  longest wait of the event loop: median %7.1f ms (while checking)\n",
              median(hugeStall));
  std::printf("  scroll to the middle:           median %7.2f ms\n", median(hugeScroll));
}

// Ways of building the document of a text at the size limit, off any view, as the window
// builds one on another thread: what each costs on the thread that builds it.
void benchDocumentBuilds(int runs) {
  std::vector<int> unused;
  const QString huge = generateDocument(700000, &unused);
  auto setUp = [](QTextDocument& d, bool layoutFirst, bool highlighter) {
    if (layoutFirst) d.setDocumentLayout(new QPlainTextDocumentLayout(&d));
    if (highlighter) new TablatureHighlighter(&d);
    d.setUndoRedoEnabled(false);
  };
  struct Variant {
    const char* name;
    std::function<void(QTextDocument&)> build;
  };
  const Variant variants[] = {
      {"layout, colours, setPlainText",
       [&](QTextDocument& d) {
         setUp(d, true, true);
         const QSignalBlocker quiet(&d);
         d.setPlainText(huge);
       }},
      {"setPlainText, then layout",
       [&](QTextDocument& d) {
         setUp(d, false, true);
         {
           const QSignalBlocker quiet(&d);
           d.setPlainText(huge);
         }
         d.setDocumentLayout(new QPlainTextDocumentLayout(&d));
       }},
      {"insertText in 1 MB pieces",
       [&](QTextDocument& d) {
         setUp(d, true, true);
         const QSignalBlocker quiet(&d);
         QTextCursor cursor(&d);
         cursor.beginEditBlock();
         for (qsizetype at = 0; at < huge.size(); at += 1 << 20) {
           cursor.insertText(huge.mid(at, 1 << 20));
         }
         cursor.endEditBlock();
       }},
      {"the same, line layouts made",
       [&](QTextDocument& d) {
         setUp(d, true, true);
         {
           const QSignalBlocker quiet(&d);
           d.setPlainText(huge);
         }
         for (QTextBlock b = d.begin(); b.isValid(); b = b.next()) b.layout();
       }},
      {"setPlainText, no layout, no colours",
       [&](QTextDocument& d) {
         setUp(d, false, false);
         d.setPlainText(huge);
       }},
  };
  std::printf("16 MB document built off a view (wall / this thread's CPU, ms):\n");
  for (const Variant& v : variants) {
    std::vector<double> wall;
    std::vector<double> cpu;
    std::vector<double> widths;
    for (int r = 0; r < std::max(1, runs / 3); ++r) {
      QTextDocument d;
      const double c0 = threadCpuMs();
      wall.push_back(timeMs([&] { v.build(d); }));
      cpu.push_back(threadCpuMs() - c0);
      // What taking it into a view costs: its width makes a line layout for every block.
      QPlainTextEdit view;
      view.resize(900, 700);
      widths.push_back(timeMs([&] { view.setDocument(&d); }));
    }
    std::printf("  %-38s %7.1f / %7.1f   into a view %6.1f\n", v.name, median(wall), median(cpu),
                widths.empty() ? -1.0 : median(widths));
  }
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  if (argc > 2 && std::string(argv[2]) == "limit") {
    benchDocumentAtTheLimit(runs);
    return 0;
  }
  if (argc > 2 && std::string(argv[2]) == "builds") {
    benchDocumentBuilds(runs);
    return 0;
  }

  std::vector<int> gridLines;
  const QString document = generateDocument(10000, &gridLines);
  TablatureEditor editor;
  editor.resize(900, 700);
  editor.show();
  editor.setPlainText(document);
  DiagnosticOptions options;
  options.sampleProblem = nullptr;  // the disk is not what is measured
  editor.setDiagnosticOptions(options);

  std::vector<double> highlight;
  std::vector<double> diagnostics;
  std::vector<double> applied;
  std::size_t found = 0;
  for (int r = 0; r < runs; ++r) {
    highlight.push_back(timeMs([&] { editor.highlighter().rehighlight(); }));
    const std::string text = joinLinesWithCrLf(editorText(editor).toStdString());
    diagnostics.push_back(timeMs([&] { found = diagnose(text, options).size(); }));
    // Text to diagnostics on the blocks, on the editor's own thread.
    editor.setDiagnosticOptions(options);
    applied.push_back(timeMs([&] { editor.checkNow(); }));
  }
  double coloursAdded = 0;
  {
    // What the colours add when a document is opened: the same text into a plain editor.
    std::vector<double> plainOpen;
    std::vector<double> colouredOpen;
    for (int r = 0; r < runs; ++r) {
      QPlainTextEdit plainEditor;
      plainEditor.resize(900, 700);
      plainEditor.show();
      plainOpen.push_back(timeMs([&] {
        plainEditor.setPlainText(document);
        QApplication::processEvents();
      }));
      TablatureEditor coloured;
      coloured.resize(900, 700);
      coloured.show();
      colouredOpen.push_back(timeMs([&] {
        coloured.setPlainText(document);
        QApplication::processEvents();
      }));
    }
    std::printf("open, plain editor:               median %6.2f ms\n", median(plainOpen));
    std::printf("open, tablature editor:           median %6.2f ms (colours add %.2f)\n",
                median(colouredOpen), median(colouredOpen) - median(plainOpen));
    coloursAdded = median(colouredOpen) - median(plainOpen);
    // The highlighter alone, every grid line shaded, with no view to lay the text out.
    QTextDocument bare;
    bare.setDocumentLayout(new QPlainTextDocumentLayout(&bare));
    TablatureHighlighter h(&bare);
    bare.setPlainText(document);
    std::vector<double> t;
    for (int r = 0; r < runs; ++r) t.push_back(timeMs([&] { h.rehighlight(); }));
    std::printf("highlighter alone, all shaded:    median %6.2f ms\n", median(t));
  }
  std::printf("document: %d lines, %lld characters, %zu problems\n", editor.blockCount(),
              static_cast<long long>(document.size()), found);
  std::printf("recolouring all (new colours):    median %6.2f ms (with Qt's relayout)\n",
              median(highlight));
  std::printf("full pass, diagnostics:           median %6.2f ms\n", median(diagnostics));
  std::printf("full pass, colours + diagnostics: median %6.2f ms (budget 50)\n",
              coloursAdded + median(diagnostics));
  std::printf("check applied in the editor:      median %6.2f ms (text, pass, underlines)\n",
              median(applied));

  // Keystrokes in the middle of the document, as typed.
  QTextCursor cursor(editor.document()->findBlockByNumber(gridLines.front() - 1));
  cursor.movePosition(QTextCursor::EndOfBlock);
  cursor.movePosition(QTextCursor::Left);
  editor.setTextCursor(cursor);
  QApplication::processEvents();
  std::vector<double> keys;
  for (int k = 0; k < 41; ++k) {
    keys.push_back(timeMs([&] {
      QTest::keyClick(&editor, k % 2 == 0 ? Qt::Key_X : Qt::Key_Backspace);
      QApplication::processEvents();  // the repaint
    }));
  }
  std::printf("keystroke:                        median %6.3f ms (budget 5)\n", median(keys));

  // The playing characters of one step: every grid line of part 400.
  std::vector<double> steps;
  for (int step = 0; step < 18; ++step) {
    std::vector<SourcePosition> positions;
    for (int line : gridLines) positions.push_back({line, 4 + step, 3 + step});
    steps.push_back(timeMs([&] { editor.setPlayingCharacters(positions); }));
  }
  editor.clearPlayingCharacters();
  std::printf("playing characters of a step:     median %6.3f ms (%zu lines)\n", median(steps),
              gridLines.size());

  // One megabyte on one line: coloured plain rather than stall.
  const QString big = QStringLiteral("k |") + QString(1 << 20, QLatin1Char('x')) + "|";
  QTextDocument bigDocument;
  TablatureHighlighter bigHighlighter(&bigDocument);
  bigDocument.documentLayout();
  bigDocument.setPlainText(big);
  std::vector<double> bigLine;
  for (int r = 0; r < std::max(3, runs / 2); ++r) {
    bigLine.push_back(timeMs([&] { bigHighlighter.rehighlightBlock(bigDocument.firstBlock()); }));
  }
  const std::string bigText = "k = kick\r\npart = A tempo = 120 notes = 8\r\n" + big.toStdString();
  std::vector<double> bigDiagnostics;
  for (int r = 0; r < std::max(3, runs / 2); ++r) {
    bigDiagnostics.push_back(timeMs([&] { diagnose(bigText, options); }));
  }
  std::printf("1 MB line, highlighting:          median %6.2f ms\n", median(bigLine));
  std::printf("1 MB line, diagnostics:           median %6.2f ms\n", median(bigDiagnostics));

  benchDocumentAtTheLimit(runs);
  return 0;
}
