// The Templates and Edit Template windows, driven through their buttons offscreen, with
// the templates in an in-memory store or a real INI file.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "settings/IniSettingsStore.h"
#include "templates/EditTemplateWindow.h"
#include "templates/TemplateStore.h"
#include "templates/TemplateTarget.h"
#include "templates/TemplatesController.h"
#include "templates/TemplatesWindow.h"
#include "tests/support/MemorySettingsStore.h"
#include "tests/support/ScriptedUserDialogs.h"

// Readable failures: QString and QStringList print as text.
void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace pulsewright {
namespace {

void destroyClosedWindows() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class TemplatesTest : public ::testing::Test {
 protected:
  explicit TemplatesTest(SettingsStore* settings = nullptr)
      : settings_(settings ? *settings : memory_) {}

  void SetUp() override {
    editor_.setFont(QFont("DejaVu Sans Mono"));
    controller_ = std::make_unique<TemplatesController>(target_, settings_, dialogs_);
  }

  void storeIntroAndFill() {
    memory_.SaveSetting("Templates", "TemplateList", "Intro,Fill,");
    memory_.SaveSetting("Templates", "Intro", "Title: Intro\r\nk |x---|\r\n");
    memory_.SaveSetting("Templates", "Fill", "s |xxxx|");
  }

  TemplatesWindow* list() {
    TemplatesWindow* window = controller_->templatesWindow();
    EXPECT_NE(window, nullptr);
    return window;
  }
  EditTemplateWindow* edit() { return controller_->editTemplateWindow(); }

  QStringList entries() {
    QStringList result;
    auto* box = list()->findChild<QListWidget*>("TemplateList");
    for (int i = 0; i < box->count(); ++i) result << box->item(i)->text();
    return result;
  }
  void select(int row) {
    auto* box = list()->findChild<QListWidget*>("TemplateList");
    box->setCurrentRow(row);
    ASSERT_TRUE(box->item(row)->isSelected());
  }
  void press(QWidget* window, const char* button) {
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(window->isVisible()) << button;
    auto* target = window->findChild<QPushButton*>(button);
    ASSERT_NE(target, nullptr) << button;
    target->click();
  }
  void typeTemplate(const QString& name, const QString& text) {
    edit()->findChild<QLineEdit*>("xName")->setText(name);
    edit()->findChild<QPlainTextEdit*>("TemplateText")->setPlainText(text);
  }
  QString stored(const QString& key) { return settings_.GetSetting("Templates", key, "<none>"); }

  MemorySettingsStore memory_;
  SettingsStore& settings_;
  ScriptedUserDialogs dialogs_;
  QPlainTextEdit editor_;
  PlainTextEditTarget target_{editor_};
  std::unique_ptr<TemplatesController> controller_;
};

TEST_F(TemplatesTest, ListsTheStoredNamesWithTheEmptyEntryThatDoesNothing) {
  storeIntroAndFill();
  controller_->showTemplates();
  EXPECT_EQ(list()->windowTitle(), "Templates");
  EXPECT_TRUE(list()->isVisible());
  EXPECT_EQ(entries(), (QStringList{"Intro", "Fill", ""}));

  editor_.setPlainText("unchanged");
  const int writes = memory_.writeCount();
  // With the empty entry selected, and then with nothing selected.
  for (int round = 0; round < 2; ++round) {
    if (round == 0)
      select(2);
    else
      list()->findChild<QListWidget*>("TemplateList")->clearSelection();
    EXPECT_EQ(list()->selectedName(), "");
    press(list(), "Insert");
    press(list(), "Edit");
    press(list(), "Delete");
    EXPECT_EQ(editor_.toPlainText(), "unchanged");
    EXPECT_EQ(edit(), nullptr);
    EXPECT_EQ(entries(), (QStringList{"Intro", "Fill", ""}));
    EXPECT_EQ(memory_.writeCount(), writes);
  }

  // An empty store lists nothing at all.
  controller_->closeWindows();
  MemorySettingsStore empty;
  TemplatesController fresh(target_, empty, dialogs_);
  fresh.showTemplates();
  EXPECT_EQ(fresh.templatesWindow()->findChild<QListWidget*>("TemplateList")->count(), 0);
}

TEST_F(TemplatesTest, AddStoresTheTemplateAndListsItLast) {
  storeIntroAndFill();
  controller_->showTemplates();
  press(list(), "Add");
  ASSERT_NE(edit(), nullptr);
  EXPECT_TRUE(edit()->isVisible());
  EXPECT_EQ(edit()->windowTitle(), "Edit Template");
  EXPECT_EQ(edit()->EditMode, EditTemplateWindow::kAdding);
  EXPECT_EQ(edit()->name(), "");
  EXPECT_EQ(edit()->text(), "");
  // The text box follows the main editor's font name.
  EXPECT_EQ(edit()->findChild<QPlainTextEdit*>("TemplateText")->font().family(),
            editor_.font().family());

  // Stored with CR LF line ends; a no-break space stays one.
  typeTemplate("Outro", QString("Title: Outro\nk |x-x-|") + QChar(0xA0));
  press(edit(), "OKButton");
  EXPECT_FALSE(edit()->isVisible());
  EXPECT_EQ(edit()->EditMode, EditTemplateWindow::kNothingPending);
  EXPECT_EQ(stored("TemplateList"), "Intro,Fill,Outro,");
  EXPECT_EQ(stored("Outro"), QString("Title: Outro\r\nk |x-x-|") + QChar(0xA0));
  EXPECT_EQ(entries(), (QStringList{"Intro", "Fill", "", "Outro"}));

  // The hidden window kept what it held; Add shows it again as it was.
  press(list(), "Add");
  EXPECT_EQ(edit()->name(), "Outro");
  EXPECT_EQ(edit()->text(), QString("Title: Outro\r\nk |x-x-|") + QChar(0xA0));

  // Adding a name that exists asks first; No keeps the window open with its text.
  typeTemplate("Outro", "new");
  press(edit(), "OKButton");
  EXPECT_EQ(dialogs_.yesNoQuestions, QStringList{"Replace the template \"Outro\"?"});
  EXPECT_TRUE(edit()->isVisible());
  EXPECT_EQ(edit()->text(), "new");
  EXPECT_EQ(stored("Outro"), QString("Title: Outro\r\nk |x-x-|") + QChar(0xA0));
  // Yes replaces it, listed once.
  dialogs_.yesNoAnswers = {true};
  press(edit(), "OKButton");
  EXPECT_FALSE(edit()->isVisible());
  EXPECT_EQ(stored("TemplateList"), "Intro,Fill,Outro,");
  EXPECT_EQ(stored("Outro"), "new");
  EXPECT_EQ(entries(), (QStringList{"Intro", "Fill", "", "Outro"}));

  // A rename onto another template's name asks too, and replaces it once.
  select(0);
  press(list(), "Edit");
  edit()->setName("Fill");
  press(edit(), "OKButton");
  EXPECT_EQ(dialogs_.yesNoQuestions.last(), "Replace the template \"Fill\"?");
  EXPECT_EQ(stored("Fill"), "s |xxxx|");
  dialogs_.yesNoAnswers = {true};
  press(edit(), "OKButton");
  EXPECT_EQ(stored("TemplateList"), "Outro,Fill,");
  EXPECT_EQ(stored("Fill"), "Title: Intro\r\nk |x---|\r\n");
  EXPECT_EQ(entries(), (QStringList{"Fill", "", "Outro"}));
}

TEST_F(TemplatesTest, EditingMovesTheTemplateToTheEndAndARenameDropsTheOldKey) {
  storeIntroAndFill();
  controller_->showTemplates();
  select(0);
  press(list(), "Edit");
  ASSERT_NE(edit(), nullptr);
  EXPECT_EQ(edit()->EditMode, EditTemplateWindow::kEditing);
  EXPECT_EQ(edit()->OldName, "Intro");
  EXPECT_EQ(edit()->name(), "Intro");
  EXPECT_EQ(edit()->text(), "Title: Intro\r\nk |x---|\r\n");

  edit()->setName("Start");
  press(edit(), "OKButton");
  EXPECT_FALSE(edit()->isVisible());
  EXPECT_EQ(stored("TemplateList"), "Fill,Start,");
  EXPECT_EQ(stored("Start"), "Title: Intro\r\nk |x---|\r\n");
  EXPECT_FALSE(memory_.contains("Templates", "Intro"));
  // The window keeps the entry in its place until it is loaded again.
  EXPECT_EQ(entries(), (QStringList{"Start", "Fill", ""}));

  // Keeping the name changes the text, keeps the key and moves it to the end.
  select(1);
  press(list(), "Edit");
  typeTemplate("Fill", "s |x-x-|");
  press(edit(), "OKButton");
  EXPECT_EQ(stored("TemplateList"), "Start,Fill,");
  EXPECT_EQ(stored("Fill"), "s |x-x-|");

  // The selection moved on while the editor was open: the edited entry is renamed.
  select(0);
  press(list(), "Edit");
  select(1);
  edit()->setName("Opening");
  press(edit(), "OKButton");
  EXPECT_EQ(entries(), (QStringList{"Opening", "Fill", ""}));
  EXPECT_EQ(stored("TemplateList"), "Fill,Opening,");
  EXPECT_FALSE(memory_.contains("Templates", "Start"));

  // Cancel hides and leaves the mode and the old name as they were.
  select(1);
  press(list(), "Edit");
  edit()->setName("Other");
  press(edit(), "CancelButton");
  EXPECT_FALSE(edit()->isVisible());
  EXPECT_EQ(edit()->EditMode, EditTemplateWindow::kEditing);
  EXPECT_EQ(edit()->OldName, "Fill");
  EXPECT_EQ(stored("TemplateList"), "Fill,Opening,");
  EXPECT_FALSE(memory_.contains("Templates", "Other"));
}

TEST_F(TemplatesTest, DeleteRemovesExactlyTheEntriesOfThatName) {
  memory_.SaveSetting("Templates", "TemplateList", "Intro,XFill,Fill,Fill2,a.b+*,Fill,");
  for (const char* name : {"Intro", "XFill", "Fill", "Fill2", "a.b+*"}) {
    memory_.SaveSetting("Templates", name, QString("text of ") + name);
  }
  controller_->showTemplates();
  select(2);
  press(list(), "Delete");
  EXPECT_EQ(stored("TemplateList"), "Intro,XFill,Fill2,a.b+*,");
  EXPECT_FALSE(memory_.contains("Templates", "Fill"));
  EXPECT_EQ(stored("XFill"), "text of XFill");
  // Only the selected entry leaves the window, and nothing is selected afterwards.
  EXPECT_EQ(entries(), (QStringList{"Intro", "XFill", "Fill2", "a.b+*", "Fill", ""}));
  EXPECT_EQ(list()->selectedName(), "");

  select(3);
  press(list(), "Delete");
  EXPECT_EQ(stored("TemplateList"), "Intro,XFill,Fill2,");

  // A template with an empty text is listed without a key; deleting it delists it.
  memory_.SaveSetting("Templates", "TemplateList", "Intro,Blank,");
  EXPECT_EQ(TemplateStore::listWithout("Intro,Blank,", "Blank"), "Intro,");
  controller_->closeWindows();
  controller_->showTemplates();
  select(1);
  press(list(), "Delete");
  EXPECT_EQ(stored("TemplateList"), "Intro,");
  EXPECT_TRUE(dialogs_.messages.isEmpty());
}

TEST_F(TemplatesTest, InsertReplacesTheEditorSelection) {
  storeIntroAndFill();
  editor_.setPlainText("k |x---|\ns |----|");
  QTextCursor cursor = editor_.textCursor();
  cursor.setPosition(9);
  cursor.setPosition(17, QTextCursor::KeepAnchor);  // "s |----|"
  editor_.setTextCursor(cursor);

  controller_->showTemplates();
  select(1);
  press(list(), "Insert");
  EXPECT_EQ(editor_.toPlainText(), "k |x---|\ns |xxxx|");
  EXPECT_TRUE(list()->isVisible());

  // At the caret when nothing is selected; CR LF becomes one line break.
  cursor.setPosition(0);
  editor_.setTextCursor(cursor);
  select(0);
  press(list(), "Insert");
  EXPECT_EQ(editor_.toPlainText(), "Title: Intro\nk |x---|\nk |x---|\ns |xxxx|");
}

TEST_F(TemplatesTest, EmptyAndRefusedNamesStoreNothing) {
  storeIntroAndFill();
  controller_->showTemplates();
  const int writes = memory_.writeCount();

  press(list(), "Add");
  typeTemplate("", "some text");
  press(edit(), "OKButton");
  EXPECT_FALSE(edit()->isVisible());
  EXPECT_EQ(edit()->EditMode, EditTemplateWindow::kNothingPending);
  EXPECT_EQ(memory_.writeCount(), writes);
  EXPECT_TRUE(dialogs_.messages.isEmpty());

  // A comma or the list's own key: a message, and the window stays open to correct it.
  for (const QString& name : {QString("Verse,Chorus"), QString(","), QString("TemplateList")}) {
    press(list(), "Add");
    typeTemplate(name, "text");
    press(edit(), "OKButton");
    EXPECT_TRUE(edit()->isVisible()) << name.toStdString();
    EXPECT_EQ(edit()->EditMode, EditTemplateWindow::kAdding);
    EXPECT_EQ(memory_.writeCount(), writes);
    ASSERT_FALSE(dialogs_.messages.isEmpty());
    EXPECT_TRUE(dialogs_.messages.last().contains(name));
    press(edit(), "CancelButton");
  }
  select(0);
  press(list(), "Edit");
  edit()->setName("TemplateList");
  press(edit(), "OKButton");
  EXPECT_EQ(dialogs_.messages.size(), 4);
  EXPECT_EQ(stored("TemplateList"), "Intro,Fill,");
  EXPECT_EQ(stored("Intro"), "Title: Intro\r\nk |x---|\r\n");

  // Names that are merely unusual are fine.
  edit()->setName(" ");
  press(edit(), "OKButton");
  EXPECT_EQ(stored("TemplateList"), "Fill, ,");
  EXPECT_EQ(entries(), (QStringList{" ", "Fill", ""}));
}

TEST_F(TemplatesTest, AFailedWriteIsReportedAndKeepsTheWindowOpen) {
  storeIntroAndFill();
  controller_->showTemplates();
  memory_.setFailWrites(true);

  press(list(), "Add");
  typeTemplate("Outro", "k |x|");
  press(edit(), "OKButton");
  EXPECT_TRUE(edit()->isVisible());
  ASSERT_EQ(dialogs_.messages.size(), 1);
  EXPECT_TRUE(dialogs_.messages[0].contains("Outro"));
  EXPECT_EQ(entries(), (QStringList{"Intro", "Fill", ""}));

  select(1);
  press(list(), "Delete");
  EXPECT_EQ(dialogs_.messages.size(), 2);
  EXPECT_EQ(entries(), (QStringList{"Intro", "Fill", ""}));

  // Once the store works again, OK stores what is still in the window.
  memory_.setFailWrites(false);
  press(edit(), "OKButton");
  EXPECT_FALSE(edit()->isVisible());
  EXPECT_EQ(stored("TemplateList"), "Intro,Fill,Outro,");
}

TEST_F(TemplatesTest, WindowsAreSingleInstancesHiddenByButtonsAndDestroyedByTheCloseBox) {
  storeIntroAndFill();
  controller_->showTemplates();
  TemplatesWindow* first = list();
  select(0);
  press(first, "OK");
  EXPECT_FALSE(first->isVisible());

  // Shown again: the same window with its contents, not reloaded from the store.
  memory_.SaveSetting("Templates", "TemplateList", "Other,");
  controller_->showTemplates();
  EXPECT_EQ(list(), first);
  EXPECT_EQ(entries(), (QStringList{"Intro", "Fill", ""}));
  EXPECT_EQ(list()->selectedName(), "Intro");

  // The close box destroys it; the next use reads the store again.
  first->close();
  destroyClosedWindows();
  EXPECT_EQ(controller_->templatesWindow(), nullptr);
  controller_->showTemplates();
  EXPECT_EQ(entries(), (QStringList{"Other", ""}));

  // The Edit Template window starts empty again after its close box.
  press(list(), "Add");
  typeTemplate("Draft", "unsaved");
  edit()->close();
  destroyClosedWindows();
  EXPECT_EQ(edit(), nullptr);
  press(list(), "Add");
  EXPECT_EQ(edit()->name(), "");
  EXPECT_EQ(edit()->text(), "");

  // OK still stores after the Templates window was closed; the next load lists it.
  typeTemplate("Late", "k |x|");
  list()->close();
  destroyClosedWindows();
  press(edit(), "OKButton");
  EXPECT_EQ(stored("TemplateList"), "Other,Late,");
  controller_->showTemplates();
  EXPECT_EQ(entries(), (QStringList{"Other", "Late", ""}));

  // Exit destroys both.
  press(list(), "Add");
  QPointer<QWidget> templates = list(), editor = edit();
  controller_->closeWindows();
  EXPECT_TRUE(templates.isNull());
  EXPECT_TRUE(editor.isNull());
}

// Through the INI file: names the file format gives a meaning to survive a restart.
TEST(TemplatesInIniFile, SurviveARestartWithAnyName) {
  QTemporaryDir dir;
  const QString path = dir.filePath("Pulsewright/Pulsewright.ini");
  ScriptedUserDialogs dialogs;
  QPlainTextEdit editor;
  const QStringList names = {"Groove A/B", "back\\slash", "x=y;z", "  ",
                             QString::fromUtf8("Füll 鼓")};
  {
    IniSettingsStore settings(path);
    TemplatesController controller(editor, settings, dialogs);
    controller.showTemplates();
    for (const QString& name : names) {
      controller.templatesWindow()->findChild<QPushButton*>("Add")->click();
      EditTemplateWindow* edit = controller.editTemplateWindow();
      edit->setName(name);
      edit->setText("Title: " + name + "\r\nk |x---|\r\n\r\n");
      edit->findChild<QPushButton*>("OKButton")->click();
    }
  }
  IniSettingsStore settings(path);
  TemplatesController controller(editor, settings, dialogs);
  controller.showTemplates();
  auto* box = controller.templatesWindow()->findChild<QListWidget*>("TemplateList");
  QStringList listed;
  for (int i = 0; i < box->count(); ++i) listed << box->item(i)->text();
  EXPECT_EQ(listed, names + QStringList{""});
  for (int i = 0; i < names.size(); ++i) {
    editor.clear();
    box->setCurrentRow(i);
    controller.templatesWindow()->findChild<QPushButton*>("Insert")->click();
    EXPECT_EQ(editor.toPlainText(), "Title: " + names[i] + "\nk |x---|\n\n");
  }
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

// The program's own templates: listed after the user's, inserted with their text, never
// deleted, and hidden by a template of the user's that takes their name.
TEST_F(TemplatesTest, ShippedTemplatesFollowTheStoredOnesAndCannotBeDeleted) {
  QTemporaryDir first;
  QTemporaryDir second;
  auto write = [](const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  };
  write(first.filePath("b.tab"), "meta title = Zydeco\nk = kick\n");
  write(first.filePath("a.tab"), "k = kick\r\npart = A tempo = 90 notes = 8\r\n");
  write(first.filePath("notes.txt"), "not a template");
  // A second folder adds names; the first folder's text wins for a name in both.
  write(second.filePath("z.tab"), "meta title = Zydeco\nelsewhere\n");
  write(second.filePath("c.tab"), "meta title = Intro\ns = snare\n");
  storeIntroAndFill();
  controller_->store().setShippedFolders({first.path(), second.path()});
  controller_->showTemplates();
  // "a" has no title and is named by its file; the stored Intro hides the shipped one.
  EXPECT_EQ(entries(), (QStringList{"Intro", "Fill", "", "a", "Zydeco"}));

  select(4);
  press(list(), "Insert");
  EXPECT_EQ(editor_.toPlainText(), "meta title = Zydeco\nk = kick\n");
  select(0);
  editor_.clear();
  press(list(), "Insert");
  EXPECT_EQ(editor_.toPlainText(), "Title: Intro\nk |x---|\n");

  const int writes = memory_.writeCount();
  select(3);
  press(list(), "Delete");
  EXPECT_EQ(entries(), (QStringList{"Intro", "Fill", "", "a", "Zydeco"}));
  EXPECT_EQ(memory_.writeCount(), writes);
  ASSERT_EQ(dialogs_.messages.size(), 1);
  EXPECT_TRUE(dialogs_.messages.first().contains("comes with Pulsewright"));
}

}  // namespace
}  // namespace pulsewright

int main(int argc, char** argv) {
  // The offscreen platform cannot raise windows and says so every time.
  qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (!text.contains("does not support raise()")) qt_message_output(type, context, text);
      });
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QStandardPaths::setTestModeEnabled(true);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
