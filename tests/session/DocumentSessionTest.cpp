// One document session: every change compiled once on its worker, the newest text
// winning, and each compilation starting from the state Play's left behind.

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "session/DocumentSession.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {
namespace {

SessionOptions noSampleFiles() {
  SessionOptions options;
  options.sampleProblem = nullptr;
  return options;
}

const char kPlayed[] =
    "h = closed hat\r\npart = G tempo = 120 notes = 8\r\nh |x-x-|\r\n"
    "part = A tempo = 120 notes = 8\r\nh |x-x-|\r\nsong = GGA";
// Relies on the song line and the voice kept from kPlayed.
const char kRelying[] = "part = G tempo = 100 notes = 8\r\nh |x-x-|";

bool saysNothingPlays(const SessionResult& result) {
  for (const Diagnostic& d : result.document.diagnostics) {
    if (d.text.find("nothing plays") != std::string::npos) return true;
  }
  return false;
}

TEST(DocumentSession, EachTextIsCompiledOnceOnTheWorkerAndTheNewestWins) {
  DocumentSession session(noSampleFiles());
  std::mutex mutex;
  std::vector<std::uint64_t> heard;
  std::vector<std::thread::id> threads;
  session.setResultListener([&](const std::shared_ptr<const SessionResult>& result) {
    std::lock_guard lock(mutex);
    heard.push_back(result->generation);
    threads.push_back(std::this_thread::get_id());
  });
  std::string text = "k = kick\r\npart = A tempo = 120 notes = 8\r\nk |";
  std::uint64_t last = 0;
  for (int i = 0; i < 50; ++i) {
    text += i % 2 == 0 ? "x" : "-";
    last = session.setText(text + "|\r\nsong = A");
  }
  session.waitForGeneration(last);
  const auto result = session.current();
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->generation, last);
  EXPECT_EQ(result->text(), text + "|\r\nsong = A");
  EXPECT_EQ(result->document.song->parts()[1].steps.size(), 50u);
  EXPECT_TRUE(result->document.diagnostics.empty());
  // Debounced: never more compilations than texts, each published once, in order.
  EXPECT_GE(session.compileCount(), 1u);
  EXPECT_LE(session.compileCount(), 50u);
  std::lock_guard lock(mutex);
  EXPECT_EQ(heard.size(), session.compileCount());
  EXPECT_TRUE(std::is_sorted(heard.begin(), heard.end()));
  EXPECT_EQ(heard.back(), last);
  for (std::thread::id id : threads) EXPECT_NE(id, std::this_thread::get_id());

  // Asked for again, the newest text is not compiled again.
  const std::uint64_t before = session.compileCount();
  EXPECT_EQ(session.compileNow(), result);
  EXPECT_EQ(session.resultFor(text + "|\r\nsong = A"), result);
  EXPECT_EQ(session.compileCount(), before);
}

TEST(DocumentSession, ChangesCompileFromTheStatePlayLeftAsPlayWill) {
  DocumentSession session(noSampleFiles());
  // Nothing kept yet: the relying text plays nothing, and the list says so.
  const auto alone = session.compileNow(kRelying);
  EXPECT_TRUE(saysNothingPlays(*alone));
  EXPECT_TRUE(session.song()->parts().empty());  // nothing played yet

  // Play takes the first document; its compiler's state is what the next one starts from.
  const auto played = session.resultFor(kPlayed);
  EXPECT_NE(played, alone);
  session.keepStateOf(played, false);
  EXPECT_EQ(session.song(), played->document.song);
  const auto relying = session.resultFor(kRelying);
  EXPECT_NE(relying, alone);
  EXPECT_EQ(relying->keptEpoch, played->keptEpoch + 1);

  // The same as one compiler compiling both, as Play pressed twice always did.
  TablatureCompiler compiler;
  CompileRequest request;
  request.sampleProblem = nullptr;
  compileDocument(compiler, kPlayed, request);
  const CompiledDocument direct = compileDocument(compiler, kRelying, request);
  EXPECT_FALSE(saysNothingPlays(*relying));
  EXPECT_EQ(relying->document.song->songLine(), "GGA");
  ASSERT_EQ(relying->document.diagnostics.size(), direct.diagnostics.size());
  for (std::size_t i = 0; i < direct.diagnostics.size(); ++i) {
    EXPECT_EQ(relying->document.diagnostics[i].text, direct.diagnostics[i].text);
  }
  EXPECT_EQ(relying->stateAfter->songLine, compiler.state().songLine);

  // Taking a result changes the state later compilations start from: the same text is
  // compiled again before it plays, and with `recheck` at once on the worker.
  session.keepStateOf(relying, true);
  session.waitForGeneration(relying->generation + 1);
  const auto rechecked = session.current();
  EXPECT_EQ(rechecked->text(), kRelying);
  EXPECT_EQ(rechecked->keptEpoch, relying->keptEpoch + 1);
  EXPECT_EQ(session.resultFor(kRelying), rechecked);

  // Forgotten: as a new compiler reads it again.
  session.forgetKeptState();
  EXPECT_TRUE(saysNothingPlays(*session.resultFor(kRelying)));
}

TEST(DocumentSession, NewOptionsCompileTheTextAgain) {
  DocumentSession session(noSampleFiles());
  const std::string text =
      "w1 = wave missing.wav pan 0\r\npart = A tempo = 120 notes = 8\r\n"
      "w1 |x-x-|\r\nsong = A";
  EXPECT_TRUE(session.compileNow(text)->document.diagnostics.empty());
  SessionOptions checked = session.options();
  checked.sampleProblem = [](const std::string&) { return std::string("no such file"); };
  session.waitForGeneration(session.setOptions(checked));
  const auto result = session.current();
  EXPECT_EQ(result->text(), text);
  bool sampleNamed = false;
  for (const Diagnostic& d : result->document.diagnostics) {
    sampleNamed = sampleNamed || d.text.find("cannot be played: no such file") != d.text.npos;
  }
  EXPECT_TRUE(sampleNamed);
  // A missing sample is skipped while a song plays: it does not hold back a live edit;
  // a half-typed grid line does.
  EXPECT_TRUE(whyEditCannotPlay(result->document).empty());
  const auto broken = session.compileNow(text + "\r\nw1 |x-");
  EXPECT_FALSE(whyEditCannotPlay(broken->document).empty());
}

TEST(DocumentSession, ALargeTextCompilesAsASmallOneDoes) {
  std::mutex turn;
  SessionOptions options = noSampleFiles();
  options.largeDocumentTurn = &turn;
  DocumentSession session(options);
  std::string text = "k = kick\r\npart = A tempo = 120 notes = 8\r\n";
  while (text.size() < DocumentSession::kLargeText + 100) text += "k |x-x-x-x-|\r\n";
  text += "song = A";
  const auto result = session.compileNow(text);
  EXPECT_EQ(result->text().size(), text.size());
  EXPECT_TRUE(result->document.song->playable());
  EXPECT_TRUE(result->document.diagnostics.empty());
  // The turn is given back.
  EXPECT_TRUE(turn.try_lock());
  turn.unlock();
}

}  // namespace
}  // namespace pulsewright
