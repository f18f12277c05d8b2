// What a new user meets in the first hour: the Help menu and its windows, the shipped
// templates, the menus' keys and groups, the first window's size, Save As, the export
// confirmations, the status line, Recent and the velocity value.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFontDialog>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include "app/DrumKeyboard.h"
#include "app/HelpWindows.h"
#include "editor/EditorCommands.h"
#include "editor/RecentFiles.h"
#include "platform/qt/QtUserDialogs.h"
#include "templates/TemplatesController.h"
#include "templates/TemplatesWindow.h"
#include "tests/app/AppFixture.h"

namespace pulsewright {
namespace {

QMenu* menuNamed(QMainWindow& window, const QString& title) {
  for (QAction* a : window.menuBar()->actions()) {
    if (a->menu() != nullptr && a->text() == title) return a->menu();
  }
  return nullptr;
}

TEST(FirstHour, HelpMenuOpensTheSearchableReferenceDrumNamesAndAbout) {
  AppFixture f;
  auto form = f.start();
  QMenu* help = menuNamed(*form, "Help");
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(form->menuBar()->actions().last()->menu(), help);
  QStringList captions;
  for (QAction* a : help->actions()) captions << (a->isSeparator() ? "-" : a->text());
  EXPECT_EQ(captions, (QStringList{"Language Reference", "Drum Names", "-", "About Pulsewright"}));

  form->action("LanguageReference")->trigger();
  LanguageReferenceWindow* reference = form->languageReference();
  ASSERT_NE(reference, nullptr);
  EXPECT_TRUE(reference->isVisible());
  const QString shown = reference->browser()->toPlainText();
  for (const char* part : {"Voice lines", "Section lines", "Grid lines", "Brackets", "Song lines",
                           "Cow Bell", "pulsewright-cli check"}) {
    EXPECT_TRUE(shown.contains(part)) << part;
  }
  // Typing finds every place, highlights them and shows the first; Enter goes on.
  QTest::keyClicks(reference->findField(), "tempo");
  const int found = static_cast<int>(reference->search().matches().size());
  ASSERT_GT(found, 2);
  EXPECT_EQ(reference->browser()->extraSelections().size(), found);
  EXPECT_EQ(reference->findResult(), QString("1 of %1").arg(found));
  EXPECT_EQ(reference->browser()->textCursor().selectedText().toLower(), "tempo");
  const int first = reference->browser()->textCursor().position();
  QTest::keyClick(reference->findField(), Qt::Key_Return);
  EXPECT_EQ(reference->findResult(), QString("2 of %1").arg(found));
  EXPECT_GT(reference->browser()->textCursor().position(), first);
  QTest::keyClick(reference->findField(), Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(reference->browser()->textCursor().position(), first);
  // Typed on past the last match: nothing stays highlighted or selected.
  QTest::keyClicks(reference->findField(), " no such phrase");
  EXPECT_EQ(reference->findResult(), "Not found");
  EXPECT_TRUE(reference->browser()->extraSelections().isEmpty());
  EXPECT_TRUE(reference->browser()->textCursor().selectedText().isEmpty());

  // Drum Names: every voice with the notes of the pad map in use.
  form->action("DrumNames")->trigger();
  ASSERT_NE(form->drumNames(), nullptr);
  QTableWidget* table = form->drumNames()->table();
  ASSERT_EQ(table->rowCount(), 17);
  EXPECT_EQ(table->item(0, 0)->text(), "Bass Drum");
  EXPECT_TRUE(table->item(0, 1)->text().contains("kick drum"));
  EXPECT_EQ(table->item(0, 3)->text(), "36");
  EXPECT_EQ(table->item(16, 0)->text(), "Cow Bell");

  form->action("About")->trigger();
  ASSERT_EQ(f.dialogs.messages.size(), 1);
  EXPECT_TRUE(f.dialogs.messages.first().startsWith("Pulsewright"));
}

TEST(FirstHour, TheTemplatesWindowOffersTheShippedGroovesAndEachInserts) {
  AppFixture f;
  auto form = f.start();
  form->action("Templates")->trigger();
  TemplatesWindow* window = form->templates().templatesWindow();
  ASSERT_NE(window, nullptr);
  auto* list = window->findChild<QListWidget*>("TemplateList");
  QStringList names;
  for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
  for (const char* groove :
       {"Rock", "Half-time", "Funk", "Shuffle", "Bossa nova", "Samba", "Reggae one-drop",
        "Swing ride", "Six-eight", "Metal double kick", "Disco", "Drum and bass"}) {
    EXPECT_TRUE(names.contains(groove)) << groove;
  }
  list->setCurrentRow(static_cast<int>(names.indexOf("Funk")));
  window->Insert_Click();
  EXPECT_TRUE(form->Text1()->toPlainText().startsWith("meta title = Funk\n"));
}

TEST(FirstHour, MenusHaveKeysGroupsAndAnAppearanceMenu) {
  AppFixture f;
  auto form = f.start();
  EXPECT_EQ(form->action("Exit")->shortcut(), QKeySequence("Ctrl+Q"));
  EXPECT_EQ(form->action("Print")->shortcut(), QKeySequence("Ctrl+P"));
  QMenu* file = menuNamed(*form, "File");
  QMenu* appearance = menuNamed(*form, "Appearance");
  ASSERT_NE(file, nullptr);
  ASSERT_NE(appearance, nullptr);
  for (const char* name : {"Foreground", "Background", "Font"}) {
    EXPECT_FALSE(file->actions().contains(form->action(name))) << name;
    EXPECT_TRUE(appearance->actions().contains(form->action(name))) << name;
  }
  int separators = 0;
  for (QAction* a : file->actions()) separators += a->isSeparator() ? 1 : 0;
  EXPECT_GE(separators, 4);

  // Quitting asks about unsaved text; Cancel keeps the window.
  form->show();
  form->Text1()->setPlainText("k = kick");
  form->Text1()->document()->setModified(true);
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Cancel};
  form->action("Exit")->trigger();
  EXPECT_EQ(f.dialogs.saveQuestions.size(), 1);
  EXPECT_TRUE(form->isVisible());
}

TEST(FirstHour, TheFirstWindowIsLargeAndTheEditorFontFixedPitch) {
  AppFixture f;
  auto form = f.start();
  const QSize room = QGuiApplication::primaryScreen()->availableSize();
  EXPECT_GE(form->width(), std::min(1100, room.width() * 4 / 5));
  EXPECT_GE(form->height(), std::min(750, room.height() * 4 / 5));
  EXPECT_TRUE(QFontInfo(form->Text1()->font()).fixedPitch())
      << QFontInfo(form->Text1()->font()).family().toStdString();

  // The real font dialog offers fixed-pitch fonts only.
  QtUserDialogs real;
  bool monospacedOnly = false;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* dialog = qobject_cast<QFontDialog*>(w); dialog != nullptr && dialog->isVisible()) {
        monospacedOnly = dialog->testOption(QFontDialog::MonospacedFonts);
        dialog->reject();
      }
    }
  });
  EXPECT_FALSE(real.chooseFont(form.get(), form->Text1()->font()).has_value());
  EXPECT_TRUE(monospacedOnly);
}

TEST(FirstHour, SaveAsAddsTabAndExportsNameTheirFile) {
  AppFixture f;
  auto form = f.start();
  QTemporaryDir dir;
  form->Text1()->setPlainText("k = kick\npart = A tempo = 120 notes = 8\nk |x-x-x-x-|\nsong = A\n");
  f.dialogs.saveFileNames = {dir.filePath("groove")};
  ASSERT_TRUE(form->editor().saveAs());
  EXPECT_TRUE(QFile::exists(dir.filePath("groove.tab")));
  EXPECT_FALSE(QFile::exists(dir.filePath("groove")));
  // A name with an extension is kept as typed.
  f.dialogs.saveFileNames = {dir.filePath("groove.txt")};
  ASSERT_TRUE(form->editor().saveAs());
  EXPECT_TRUE(QFile::exists(dir.filePath("groove.txt")));

  f.dialogs.exportFileNames = {dir.filePath("song")};
  f.dialogs.numbers = {10};
  form->ExportMidi_Click();
  EXPECT_TRUE(QFile::exists(dir.filePath("song.mid")));
  EXPECT_EQ(form->statusBar()->currentMessage(), "Exported " + dir.filePath("song.mid"));

  f.dialogs.exportFileNames = {dir.filePath("text.pdf")};
  form->action("ExportPdf")->trigger();
  EXPECT_TRUE(QFile::exists(dir.filePath("text.pdf")));
  EXPECT_EQ(form->statusBar()->currentMessage(), "Exported " + dir.filePath("text.pdf"));

  f.dialogs.exportFileNames = {dir.filePath("score.musicxml")};
  form->action("ExportMusicXml")->trigger();
  EXPECT_EQ(form->statusBar()->currentMessage(), "Exported " + dir.filePath("score.musicxml"));

  f.dialogs.exportFileNames = {dir.filePath("staves.pdf")};
  form->action("ExportStavesPdf")->trigger();
  EXPECT_EQ(form->statusBar()->currentMessage(), "Exported " + dir.filePath("staves.pdf"));
}

TEST(FirstHour, StatusLineHasNoProgramMinusOneAndStopClearsIt) {
  AppFixture f;
  auto form = f.start();
  form->Text1()->setPlainText(
      "k = kick\npart = A tempo = 120 notes = 8\nk |x-x-x-x-|x-x-x-x-|\nsong = AAAA\n");
  form->Play_Click();
  ASSERT_TRUE(waitFor([&] { return form->Label1()->text().contains("Step: 5"); }));
  const QString status = form->Label1()->text();
  EXPECT_FALSE(status.contains("Program")) << status.toStdString();
  EXPECT_TRUE(status.contains("Beat: 1:3")) << status.toStdString();
  form->Stopb_Click();
  EXPECT_EQ(form->Label1()->text(), "");
  // Nothing the stopped song still had under way comes back.
  QTest::qWait(100);
  EXPECT_EQ(form->Label1()->text(), "");
}

TEST(FirstHour, RecentListsAFileOnceAndTheVelocityShowsItsValue) {
  AppFixture f;
  auto form = f.start();
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
  QFile file(dir.filePath("a.tab"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  ASSERT_TRUE(QFile::link(dir.filePath("a.tab"), dir.filePath("link.tab")));
  RecentFiles& recent = form->editor().recentFiles();
  recent.add(dir.filePath("a.tab"));
  recent.add(dir.filePath("sub/../a.tab"));
  recent.add(dir.filePath("link.tab"));
  EXPECT_EQ(recent.files().size(), 1);

  DrumKeyboard* keyboard = form->keyboard();
  EXPECT_TRUE(keyboard->velocityLabel()->text().contains("127"));
  keyboard->vol()->setValue(27);
  EXPECT_TRUE(keyboard->velocityLabel()->text().contains("100"));
}

}  // namespace
}  // namespace pulsewright
