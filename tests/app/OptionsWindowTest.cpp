#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/DrumKeyboard.h"
#include "padmap/ui/OptionsWindow.h"
#include "tests/FileSizeLimit.h"
#include "tests/app/AppFixture.h"

namespace pulsewright {
namespace {

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(OptionsWindow, PlusAndMinusKeepOnlyTheirOwnBoundAndAudition) {
  AppFixture f;
  auto form = f.start();
  OptionsWindow* o = form->options();
  struct Case {
    const char* before;
    bool plus;
    const char* after;
  };
  const Case cases[] = {{"127", true, "127"},  {"0", false, "0"},   {"200", true, "127"},
                        {"200", false, "199"}, {"-5", false, "0"},  {"-5", true, "-4"},
                        {"", true, "127"},     {"abc", false, "0"}, {"36.5", true, "37.5"},
                        {" 12 ", true, "13"}};
  for (const Case& c : cases) {
    o->setEntry(DrumVoice::Tom1, c.before);
    c.plus ? o->plus(DrumVoice::Tom1) : o->minus(DrumVoice::Tom1);
    EXPECT_EQ(o->entry(DrumVoice::Tom1), c.after) << c.before << (c.plus ? " +" : " -");
  }
  // The audition: note on and off for the new number, through the voice's key.
  o->setEntry(DrumVoice::BassDrum, "36");
  const std::size_t mark = f.midi.sent().size();
  o->plus(DrumVoice::BassDrum);
  EXPECT_EQ(f.sentSince(mark), (std::vector<std::string>{"90 37 127", "80 37 0"}));
  EXPECT_FALSE(form->keyboard()->key(0)->isChecked());
  // Cancel keeps an edit; the next Play compiles with it.
  o->show();
  o->setEntry(DrumVoice::SnareDrum, "40");
  o->hide();
  EXPECT_EQ(form->options()->padMap()[index(DrumVoice::SnareDrum)], "40");
}

TEST(OptionsWindow, PresetsAndPadMapFilesRoundTrip) {
  AppFixture f;
  // A file saved in an earlier run, hidden files included, is listed after the presets.
  QFile hidden(QDir(f.padMaps.path()).filePath(".quiet.drm"));
  ASSERT_TRUE(hidden.open(QIODevice::WriteOnly));
  hidden.write("\"1\",\"2\"\r\n");
  hidden.close();
  auto form = f.start();
  OptionsWindow* o = form->options();
  QComboBox* chooser = o->chooser();
  ASSERT_EQ(chooser->count(), 3);
  EXPECT_EQ(chooser->itemText(1), "Alesis SR-16");
  EXPECT_EQ(chooser->itemText(2), ".quiet.drm");

  chooser->setCurrentIndex(1);
  o->LoadSampleIDs_Click();
  EXPECT_EQ(o->entry(DrumVoice::PedalHat), "0");
  EXPECT_EQ(o->entry(DrumVoice::Tom1), "48");
  EXPECT_EQ(o->entry(DrumVoice::Perc1), "65");
  // A short file: the missing entries become empty.
  chooser->setCurrentIndex(2);
  o->LoadSampleIDs_Click();
  EXPECT_EQ(o->entry(DrumVoice::BassDrum), "1");
  EXPECT_EQ(o->entry(DrumVoice::ClosedHat), "");

  // Save under the default name, with odd entries, and read it back in a new window.
  chooser->setCurrentIndex(0);
  o->LoadSampleIDs_Click();
  o->setEntry(DrumVoice::BassDrum, "");
  o->setEntry(DrumVoice::Ride, "ride, please");
  o->SaveSampleIDs_Click();
  ASSERT_NE(o->saveSettingsDialog(), nullptr);
  EXPECT_EQ(o->saveSettingsDialog()->nameField()->text(), "User Settings 01");
  o->saveSettingsDialog()->OKButton_Click();
  const QString saved = QDir(f.padMaps.path()).filePath("User Settings 01.drm");
  const QByteArray bytes = readAll(saved);
  EXPECT_TRUE(bytes.startsWith("\"\",\"38\",\"42\""));
  EXPECT_TRUE(
      bytes.endsWith("\"ride, please\",\"53\",\"49\",\"57\",\"67\",\"68\",\"39\",\"56\"\r\n"));
  const PadMap before = o->padMap();

  OptionsWindow again(f.padMaps.path(), f.dialogs, {});
  const int item = again.chooser()->findText("User Settings 01.drm");
  ASSERT_GE(item, 2);
  again.chooser()->setCurrentIndex(item);
  again.LoadSampleIDs_Click();
  EXPECT_EQ(again.padMap(), before);

  // Names that would write outside the folder are refused; nothing is written.
  for (const char* name : {"", ".", "..", "../escape", "a/b"}) {
    o->saveSettingsDialog()->nameField()->setText(name);
    f.dialogs.messages.clear();
    o->saveSettingsDialog()->OKButton_Click();
    EXPECT_EQ(f.dialogs.messages.size(), 1) << name;
  }
  EXPECT_FALSE(QFile::exists(QDir(f.padMaps.path()).filePath("../escape.drm")));
  // A folder that cannot be written: the message names the file.
  OptionsWindow broken("/proc/pulsewright-cannot-be-here", f.dialogs, {});
  broken.SaveSampleIDs_Click();
  f.dialogs.messages.clear();
  broken.saveSettingsDialog()->OKButton_Click();
  ASSERT_EQ(f.dialogs.messages.size(), 1);
  EXPECT_TRUE(f.dialogs.messages[0].contains("User Settings 01.drm"));
}

TEST(OptionsWindow, UnreadableFilesAndFailedSavesKeepTheMapAndSaySo) {
  AppFixture f;
  const QDir folder(f.padMaps.path());
  for (const char* name : {"gone.drm", "pipe.drm"}) {
    QFile file(folder.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\"1\",\"2\"\r\n");
  }
  auto form = f.start();
  OptionsWindow* o = form->options();
  QComboBox* chooser = o->chooser();
  const PadMap before = o->padMap();
  // Gone since start-up, or a FIFO by now: picked, the map stays and the user hears why.
  ASSERT_TRUE(QFile::remove(folder.filePath("gone.drm")));
  ASSERT_TRUE(QFile::remove(folder.filePath("pipe.drm")));
  ASSERT_EQ(mkfifo(QFile::encodeName(folder.filePath("pipe.drm")).constData(), 0600), 0);
  for (const char* name : {"gone.drm", "pipe.drm"}) {
    chooser->setCurrentIndex(chooser->findText(name));
    o->LoadSampleIDs_Click();  // returns at once
    EXPECT_EQ(o->padMap(), before) << name;
    EXPECT_TRUE(f.dialogs.messages.last().contains(name)) << name;
  }
  EXPECT_TRUE(f.dialogs.messages[0].contains("No such file"))
      << f.dialogs.messages[0].toStdString();
  EXPECT_TRUE(f.dialogs.messages[1].contains("not a regular file"));

  // A save that does not fit leaves the earlier file whole and gives the reason.
  o->SaveSampleIDs_Click();
  o->saveSettingsDialog()->nameField()->setText("kit");
  o->saveSettingsDialog()->OKButton_Click();
  const QByteArray saved = readAll(folder.filePath("kit.drm"));
  ASSERT_FALSE(saved.isEmpty());
  // Saved files are offered at once.
  EXPECT_GE(chooser->findText("kit.drm"), 0);
  o->setEntry(DrumVoice::BassDrum, "35");
  withFileSizeLimit(10, [&] {
    o->saveSettingsDialog()->OKButton_Click();
    return 0;
  });
  EXPECT_EQ(readAll(folder.filePath("kit.drm")), saved);
  EXPECT_TRUE(f.dialogs.messages.last().contains("File too large"))
      << f.dialogs.messages.last().toStdString();
}

TEST(OptionsWindow, CancelPutsBackTheEntriesTheWindowOpenedWith) {
  AppFixture f;
  auto form = f.start();
  OptionsWindow* o = form->options();
  form->Options_Click();
  o->setEntry(DrumVoice::BassDrum, "99");
  for (QPushButton* b : o->findChildren<QPushButton*>()) {
    if (b->text() == "Cancel" && b->parentWidget() == o) b->click();
  }
  EXPECT_FALSE(o->isVisible());
  EXPECT_EQ(o->entry(DrumVoice::BassDrum), "36");
  // OK keeps them.
  form->Options_Click();
  o->setEntry(DrumVoice::BassDrum, "35");
  for (QPushButton* b : o->findChildren<QPushButton*>()) {
    if (b->text() == "OK" && b->parentWidget() == o) b->click();
  }
  EXPECT_EQ(o->entry(DrumVoice::BassDrum), "35");
}

TEST(OptionsWindow, CloseBoxHidesAndCtrlTabStaysOnTheOnlyTab) {
  AppFixture f;
  auto form = f.start();
  OptionsWindow* o = form->options();
  o->show();
  o->close();
  EXPECT_FALSE(o->isVisible());
  EXPECT_EQ(form->options(), o);  // the map is still there
  EXPECT_EQ(o->entry(DrumVoice::BassDrum), "36");
  o->show();
  QTest::keyClick(o, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_TRUE(o->isVisible());
}

}  // namespace
}  // namespace pulsewright
