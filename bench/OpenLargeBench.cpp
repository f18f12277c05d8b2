// The main window, offscreen on fake devices, opening a document at the size limit
// (16 MB) through File > Open: the time until the whole text is shown (read-only and
// scrollable while it loads), until it is shown and editable and
// a keystroke typed into it has been taken, the longest the event loop is held up from
// Open until the text is checked and its staff drawn, the time a keystroke takes then,
// and the resident memory shown, checked and once the song plays, with the peak from
// Play until the text is checked again. Prints medians.
//
// Usage: pw_bench_open_large [runs] [--compare OTHER]   (each run in a process of its own)
//   OTHER: this bench built from another revision; its figures are printed beside these.
//        pw_bench_open_large --write FILE   writes the document and prints its lines
//        pw_bench_open_large --one FILE LINES   one run, for a heap profiler

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "app/Form1.h"
#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "editor/LargeTextPreview.h"
#include "editor/TablatureEditor.h"
#include "playback/PlaybackClock.h"
#include "tests/support/FakeMidiOutput.h"
#include "tests/support/MemorySettingsStore.h"
#include "tests/support/NullSoundOutput.h"
#include "tests/support/ScriptedUserDialogs.h"

using namespace pulsewright;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Time every thread of the process has run: the work done, which a loaded machine
// spreads over more wall time but does not add to.
double processCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// "VmRSS" or "VmHWM" from /proc/self/status, in megabytes.
long statusMb(const char* field) {
  QFile status("/proc/self/status");
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith(field)) return line.mid(6).trimmed().split(' ').front().toLong() / 1024;
  }
  return -1;
}

// Starts the peak resident figure (VmHWM) again from the resident memory now.
void resetPeak() {
  QFile clear("/proc/self/clear_refs");
  if (clear.open(QIODevice::WriteOnly)) clear.write("5");
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Parts of twelve grid lines each, a remark now and then and a problem every seventh
// part, up to `bytes` with CR LF line ends. Returns the number of lines.
int writeDocument(const QString& path, std::size_t bytes) {
  static const char* kGrids[] = {"|x-x-x-x-|x-x-x-x-|", "|--x---x-|--x---x-|",
                                 "|x---x---|x---x-x-|", "|[xx]x-x-x-|o-X-5-9-|",
                                 "|X-------|--------|"};
  static const char* kSymbols[] = {"h", "s", "k", "t1", "w1"};
  std::string text =
      "meta title = Generated\r\nk = kick drum\r\ns = snare\r\nh = closed hi-hat\r\n"
      "t1 = tom 1\r\nw1 = wave clap.wav pan -20\r\n";
  int lines = 6;
  const std::string song = "song = ABCDEFGHIJ\r\n";
  for (int part = 0;; ++part) {
    std::string block = "part = " + std::string(1, static_cast<char>('A' + part % 26)) +
                        " tempo = 120 notes = 16\r\n";
    int added = 1;
    for (int g = 0; g < 12; ++g, ++added) {
      block += std::string(kSymbols[g % 5]) + " " + kGrids[(g + part) % 5] + "\r\n";
    }
    if (part % 10 == 0) block += "A remark between parts, a line of no kind.\r\n", ++added;
    if (part % 7 == 0) block += "q |x-x-g-x-|\r\n", ++added;
    if (text.size() + block.size() + song.size() > bytes) break;
    text += block;
    lines += added;
  }
  text += song;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return 0;
  file.write(text.data(), static_cast<qint64>(text.size()));
  return lines + 1;
}

// The longest the event loop went without turning: a timer that should fire every few
// milliseconds notes the longest gap between two of its ticks.
class Heartbeat {
 public:
  Heartbeat() {
    timer_.setInterval(2);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const auto now = Clock::now();
      const double cpu = threadCpuMs();
      longest_ = std::max(longest_, std::chrono::duration<double, std::milli>(now - last_).count());
      longestCpu_ = std::max(longestCpu_, cpu - lastCpu_);
      last_ = now;
      lastCpu_ = cpu;
    });
  }
  void start() {
    last_ = Clock::now();
    lastCpu_ = threadCpuMs();
    longest_ = 0;
    longestCpu_ = 0;
    timer_.start();
  }
  double longestMs() const { return longest_; }
  // The same on the window thread's own clock, which a loaded machine does not stretch.
  double longestCpuMs() const { return longestCpu_; }

 private:
  QTimer timer_;
  Clock::time_point last_;
  double lastCpu_ = 0;
  double longest_ = 0;
  double longestCpu_ = 0;
};

// Turns the event loop, sleeping while there is nothing to do, until `done` holds.
template <typename F>
void waitUntil(F done) {
  while (!done()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void spin(double ms) {
  const auto t0 = Clock::now();
  waitUntil([&] { return msSince(t0) >= ms; });
}

std::map<std::string, double> runOnce(const QString& path, int lines) {
  std::map<std::string, double> f;
  FakeMidiOutput midi;
  NullSoundOutput sound({"Speakers"});
  MemorySettingsStore settings;
  ScriptedUserDialogs dialogs;
  SteadyPlaybackClock clock;
  QTemporaryDir padMaps;
  Form1 form(AppServices{midi, sound, settings, dialogs, clock, padMaps.path(), 0, {}});
  form.startUp();
  form.resize(1000, 800);
  QApplication::processEvents();
  QPlainTextEdit* text = form.Text1();
  TablatureEditor* editor = form.tablatureEditor();
  bool problemsListed = false;
  QObject::connect(editor, &TablatureEditor::diagnosticsChanged, [&] { problemsListed = true; });

  Heartbeat heartbeat;  // ticks while waiting below
  heartbeat.start();
  const auto t0 = Clock::now();
  const double cpu0 = threadCpuMs();
  const double processCpu0 = processCpuMs();
  if (!form.editor().documents().openFile(path)) {
    std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
    std::exit(2);
  }
  QApplication::processEvents();
  f["first_ms"] = msSince(t0);  // the first lines are in view, read-only
  // Every line can be scrolled to: in the preview while the text loads, or in the editor.
  waitUntil([&] {
    const LargeTextPreview* preview = editor->preview();
    return (preview != nullptr && preview->isVisible() && preview->lineCount() == lines) ||
           text->document()->blockCount() == lines;
  });
  f["whole_ms"] = msSince(t0);
  // Shown: every line is in the editor and it takes typing.
  waitUntil([&] { return text->document()->blockCount() == lines && !text->isReadOnly(); });
  f["shown_ms"] = msSince(t0);
  f["shown_cpu_ms"] = threadCpuMs() - cpu0;
  f["shown_process_cpu_ms"] = processCpuMs() - processCpu0;
  f["shown_mb"] = static_cast<double>(statusMb("VmRSS:"));
  // A key typed at the top of the text as soon as it shows.
  text->moveCursor(QTextCursor::Start);
  QTest::keyClick(text, Qt::Key_Z);
  waitUntil([&] { return text->document()->firstBlock().text().startsWith(QLatin1Char('z')); });
  f["typed_ms"] = msSince(t0);
  QTest::keyClick(text, Qt::Key_Backspace);
  // The problems of the text as it is now, while the window keeps turning.
  waitUntil([&] { return problemsListed || msSince(t0) > 120000; });
  f["settled_ms"] = msSince(t0);
  spin(2000);  // anything queued behind the check: the staff of a large text comes later
  f["stall_ms"] = heartbeat.longestMs();
  f["stall_cpu_ms"] = heartbeat.longestCpuMs();
  f["settled_mb"] = static_cast<double>(statusMb("VmRSS:"));
  f["peak_mb"] = static_cast<double>(statusMb("VmHWM:"));

  // Keystrokes in the middle of the text.
  QTextCursor cursor(text->document()->findBlockByNumber(lines / 2));
  cursor.movePosition(QTextCursor::EndOfBlock);
  text->setTextCursor(cursor);
  text->centerCursor();
  QApplication::processEvents();
  std::vector<double> keys;
  for (int k = 0; k < 9; ++k) {
    const auto t = Clock::now();
    QTest::keyClick(text, k % 2 == 0 ? Qt::Key_X : Qt::Key_Backspace);
    QApplication::processEvents();
    keys.push_back(msSince(t));
  }
  f["key_ms"] = median(keys);
  spin(500);

  // Play for a moment, until the problems are listed again for what the next Play keeps.
  resetPeak();
  problemsListed = false;
  const auto played = Clock::now();
  const double playCpu = threadCpuMs();
  form.Play_Click();
  f["play_ms"] = msSince(played);
  f["play_cpu_ms"] = threadCpuMs() - playCpu;
  spin(3000);
  waitUntil([&] { return problemsListed || msSince(played) > 60000; });
  spin(500);
  f["playing_mb"] = static_cast<double>(statusMb("VmRSS:"));
  f["play_peak_mb"] = static_cast<double>(statusMb("VmHWM:"));
  form.Stopb_Click();
  spin(200);
  f["peak_mb"] = std::max(f["peak_mb"], static_cast<double>(statusMb("VmHWM:")));
  text->document()->setModified(false);  // no question on close
  return f;
}

using Figures = std::map<std::string, double>;

// One run in a process of its own, so that each starts from a fresh heap.
Figures runChild(const QString& program, const QString& path, int lines) {
  QProcess p;
  p.start(program, {"--one", path, QString::number(lines)});
  p.waitForFinished(-1);
  Figures f;
  for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
    const QList<QByteArray> kv = line.split(' ');
    if (kv.size() == 2) f[kv[0].toStdString()] = kv[1].toDouble();
  }
  if (f.empty())
    std::fprintf(stderr, "%s: %s\n", qPrintable(program), p.readAllStandardError().constData());
  return f;
}

double medianOf(const std::vector<Figures>& runs, const std::string& key) {
  std::vector<double> v;
  for (const Figures& f : runs) {
    if (f.count(key)) v.push_back(f.at(key));
  }
  return v.empty() ? -1 : median(v);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() == 4 && args[1] == "--one") {
    Q_INIT_RESOURCE(resources);
    for (const auto& [key, value] : runOnce(args[2], args[3].toInt())) {
      std::printf("%s %.2f\n", key.c_str(), value);
    }
    return 0;
  }
  if (args.size() == 3 && args[1] == "--write") {
    std::printf("%d\n", writeDocument(args[2], std::size_t{16} << 20));
    return 0;
  }
  int runs = 5;
  QString other;
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--compare" && i + 1 < args.size()) {
      other = args[++i];
    } else {
      runs = std::max(1, args[i].toInt());
    }
  }
  QTemporaryDir dir;
  const QString path = dir.filePath("large.tab");
  const int lines = writeDocument(path, std::size_t{16} << 20);
  // Turn about, so that both see the same changes in the machine's load.
  std::vector<Figures> mine;
  std::vector<Figures> theirs;
  for (int r = 0; r < runs; ++r) {
    if (!other.isEmpty()) theirs.push_back(runChild(other, path, lines));
    mine.push_back(runChild(QApplication::applicationFilePath(), path, lines));
  }
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) < 0) load[0] = -1;
  std::printf("%lld MB document, %d lines, median of %d runs, load average %.2f\n",
              static_cast<long long>(QFileInfo(path).size() >> 20), lines, runs, load[0]);
  static const std::pair<const char*, const char*> kRows[] = {
      {"first_ms", "first lines shown (ms)"},
      {"whole_ms", "shown whole (read-only, scrollable) (ms)"},
      {"shown_ms", "shown and editable (ms)"},
      {"shown_cpu_ms", "  of it on the window's thread (ms)"},
      {"shown_process_cpu_ms", "  on all threads, processor time (ms)"},
      {"typed_ms", "a key typed at once is in (ms)"},
      {"settled_ms", "problems listed (ms)"},
      {"stall_ms", "longest event-loop wait (ms)"},
      {"stall_cpu_ms", "  of it on the window's thread (ms)"},
      {"key_ms", "keystroke once checked (ms)"},
      {"play_ms", "Play holds the window (ms)"},
      {"play_cpu_ms", "  of it on the window's thread (ms)"},
      {"shown_mb", "resident, shown (MB)"},
      {"settled_mb", "resident, checked (MB)"},
      {"playing_mb", "resident, playing (MB)"},
      {"play_peak_mb", "peak resident from Play (MB)"},
      {"peak_mb", "peak resident (MB)"},
  };
  if (!other.isEmpty()) std::printf("%-42s %10s %10s\n", "", "other", "this");
  for (const auto& [key, label] : kRows) {
    if (other.isEmpty()) {
      std::printf("%-42s %10.1f\n", label, medianOf(mine, key));
    } else {
      std::printf("%-42s %10.1f %10.1f\n", label, medianOf(theirs, key), medianOf(mine, key));
    }
  }
  return 0;
}
