// The window on one document session: typing while the staff shows and a song plays
// compiles each settled text once, for the problems list, the staff and the live edit
// together, and no view compiles on its own.

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolButton>
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "editor/TablatureEditor.h"
#include "notation/ui/StaffPanel.h"
#include "notation/ui/StaffView.h"
#include "tablature/TablatureCompiler.h"
#include "tests/app/AppFixture.h"
#include "text/DocumentText.h"

namespace pulsewright {

// Every compilation in the program, whoever makes it: the test program is linked with
// TablatureCompiler::compile wrapped by this (tests/app/CMakeLists.txt).
namespace compile_count {
std::mutex mutex;
std::vector<std::string> texts;
}  // namespace compile_count

}  // namespace pulsewright

extern "C" void
__real__ZN11pulsewright17TablatureCompiler7compileESt17basic_string_viewIcSt11char_traitsIcEERKSt5arrayINSt7__cxx1112basic_stringIcS3_SaIcEEELm17EEPNS_15CompileListenerEPNS_14DiagnosticSinkE(
    pulsewright::TablatureCompiler* self, std::string_view text, const pulsewright::PadMap& padMap,
    pulsewright::CompileListener* listener, pulsewright::DiagnosticSink* problems);

extern "C" void
__wrap__ZN11pulsewright17TablatureCompiler7compileESt17basic_string_viewIcSt11char_traitsIcEERKSt5arrayINSt7__cxx1112basic_stringIcS3_SaIcEEELm17EEPNS_15CompileListenerEPNS_14DiagnosticSinkE(
    pulsewright::TablatureCompiler* self, std::string_view text, const pulsewright::PadMap& padMap,
    pulsewright::CompileListener* listener, pulsewright::DiagnosticSink* problems) {
  {
    const std::lock_guard lock(pulsewright::compile_count::mutex);
    pulsewright::compile_count::texts.emplace_back(text);
  }
  __real__ZN11pulsewright17TablatureCompiler7compileESt17basic_string_viewIcSt11char_traitsIcEERKSt5arrayINSt7__cxx1112basic_stringIcS3_SaIcEEELm17EEPNS_15CompileListenerEPNS_14DiagnosticSinkE(
      self, text, padMap, listener, problems);
}

namespace pulsewright {
namespace {

std::size_t compilesSoFar() {
  const std::lock_guard lock(compile_count::mutex);
  return compile_count::texts.size();
}

TEST(SessionWindow, TypingWhileTheStaffShowsAndASongPlaysCompilesEachChangeOnce) {
  AppFixture f;
  auto form = f.start();
  ASSERT_TRUE(waitFor([&] { return form->isVisible(); }));
  ASSERT_TRUE(form->staff()->isVisible());
  form->Text1()->setPlainText("k = kick\npart = A tempo = 1500 notes = 16\nk |x-x-|\nsong = A\n");
  form->action("LoopSong")->setChecked(true);
  auto compiledText = [&] { return joinLinesWithCrLf(form->Text1()->toPlainText().toStdString()); };
  // Play takes the compilation the editor's check made.
  ASSERT_TRUE(waitFor([&] {
    const auto result = form->session().current();
    return result && result->text() == compiledText();
  }));
  const std::size_t everywhereBefore = compilesSoFar();
  const std::uint64_t sessionBefore = form->session().compileCount();
  const std::size_t start = f.midi.sent().size();
  form->button("Play")->click();
  EXPECT_EQ(compilesSoFar(), everywhereBefore);  // the text was compiled already
  ASSERT_TRUE(waitFor([&] { return f.sentSince(start).size() >= 8; }));
  auto settled = [&] {
    const auto result = form->session().current();
    return result && result->text() == compiledText() && form->session().kept() == result;
  };
  ASSERT_TRUE(waitFor(settled));

  // 100 keys into the grid line, one at a time; every tenth change is let settle: its
  // compilation reaches the problems list, the staff and the song playing.
  QTextCursor cursor(form->Text1()->document()->findBlockByNumber(2));
  cursor.movePosition(QTextCursor::EndOfBlock);
  cursor.movePosition(QTextCursor::PreviousCharacter);
  form->Text1()->setTextCursor(cursor);
  int settledChanges = 0;
  for (int key = 0; key < 100; ++key) {
    QTest::keyClick(form->Text1(), key % 2 == 0 ? 'x' : '-');
    QApplication::processEvents();
    if (key % 10 == 9) {
      ASSERT_TRUE(waitFor(settled)) << "key " << key;
      ++settledChanges;
    }
  }
  const std::string last = compiledText();
  std::string typed;
  for (int i = 0; i < 50; ++i) typed += "x-";
  EXPECT_NE(last.find("\r\nk |x-x-" + typed + "|\r\n"), std::string::npos);

  // The staff engraves the song that plays, and the problems list has nothing to say.
  EXPECT_EQ(form->staff()->song(), form->session().kept()->document.song);
  EXPECT_EQ(form->session().kept()->document.song->parts()[1].steps.size(), 104u);
  EXPECT_TRUE(form->tablatureEditor()->diagnostics().empty());
  form->button("Stopb")->click();

  const std::uint64_t sessionCompiles = form->session().compileCount() - sessionBefore;
  std::vector<std::string> compiled;
  {
    const std::lock_guard lock(compile_count::mutex);
    compiled.assign(compile_count::texts.begin() + static_cast<std::ptrdiff_t>(everywhereBefore),
                    compile_count::texts.end());
  }
  // No more compilations than changes, at least one per settled change, the last text
  // exactly once, and every one of them the session's.
  EXPECT_LE(compiled.size(), 100u);
  EXPECT_GE(compiled.size(), static_cast<std::size_t>(settledChanges));
  EXPECT_EQ(std::count(compiled.begin(), compiled.end(), last), 1);
  EXPECT_EQ(compiled.size(), sessionCompiles);
}

}  // namespace
}  // namespace pulsewright
