#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextDocument>

#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "tests/app/AppFixture.h"

namespace pulsewright {
namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  const QString path = dir.filePath(name);
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  file.write(bytes);
  return path;
}

TEST(ImportDrumTab, OpensTheTabAsANewUnsavedDocumentThatPlays) {
  AppFixture f;
  auto form = f.start();
  QTemporaryDir dir;
  f.dialogs.openFileNames = {writeFile(dir, "beat.txt", "240 bpm\nHH|x-o-|\nBD|x-?-|\n")};
  form->action("ImportDrumTab")->trigger();
  EXPECT_EQ(form->Text1()->toPlainText(),
            "k = kick drum\nh = closed hi-hat\no = open hi-hat\n\n"
            "part = A tempo = 240 notes = 4\nh |x---|\no |--x-|\nk |x---|\n\nsong = A\n");
  EXPECT_TRUE(form->Text1()->document()->isModified());
  EXPECT_EQ(form->editor().documents().currentFileName(), "");
  ASSERT_EQ(f.dialogs.messages.size(), 1);
  EXPECT_TRUE(f.dialogs.messages[0].contains("beat.txt:3:6: warning:"))
      << f.dialogs.messages[0].toStdString();

  // It plays: the kick and the hat sound on the first step.
  const std::size_t before = f.midi.sent().size();
  form->Play_Click();
  ASSERT_TRUE(waitFor([&] { return !form->isPlaying(); }));
  const auto sent = f.sentSince(before);
  EXPECT_NE(std::find(sent.begin(), sent.end(), "90 42 76"), sent.end());
  EXPECT_NE(std::find(sent.begin(), sent.end(), "90 46 76"), sent.end());
  EXPECT_NE(std::find(sent.begin(), sent.end(), "90 36 76"), sent.end());

  // Changed text is not lost to a second import; a tab without drum lines says so.
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Cancel};
  form->action("ImportDrumTab")->trigger();
  EXPECT_EQ(f.dialogs.openDialogs, 1);
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Discard};
  f.dialogs.openFileNames = {writeFile(dir, "words.txt", "just words\n")};
  form->action("ImportDrumTab")->trigger();
  EXPECT_TRUE(f.dialogs.messages.last().contains("no drum tab lines found"));
  EXPECT_TRUE(form->Text1()->toPlainText().startsWith("k = kick drum"));
}

}  // namespace
}  // namespace pulsewright
