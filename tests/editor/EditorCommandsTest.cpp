// The editor's commands on a real QPlainTextEdit, offscreen, with scripted dialogs.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <memory>

#include "editor/DocumentCommands.h"
#include "editor/EditCommands.h"
#include "editor/EditorCommands.h"
#include "editor/EditorText.h"
#include "editor/FindReplaceDialog.h"
#include "settings/IniSettingsStore.h"
#include "tests/FileSizeLimit.h"
#include "tests/support/MemorySettingsStore.h"
#include "tests/support/ScriptedUserDialogs.h"

using namespace pulsewright;
using SaveChoice = UserDialogs::SaveChoice;

namespace {

QByteArray readBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return "<missing>";
  return file.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(bytes), bytes.size());
}

// The main window's part in these commands: a window, its editor and the commands.
struct EditorWindow {
  explicit EditorWindow(SettingsStore& settings) {
    editor = new QPlainTextEdit(&window);
    editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    commands = std::make_unique<EditorCommands>(editor, &window, dialogs, settings);
  }

  void type(const QString& text) {
    QTextCursor cursor = editor->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    editor->setTextCursor(cursor);
  }
  void select(int start, int length) {
    QTextCursor cursor(editor->document());
    cursor.setPosition(start);
    cursor.setPosition(start + length, QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
  }
  int selectionStart() const { return editor->textCursor().selectionStart(); }
  int selectionLength() const {
    const QTextCursor c = editor->textCursor();
    return c.selectionEnd() - c.selectionStart();
  }
  QString text() const { return editorText(*editor); }
  DocumentCommands& files() const { return commands->documents(); }

  QWidget window;
  QPlainTextEdit* editor;
  ScriptedUserDialogs dialogs;
  std::unique_ptr<EditorCommands> commands;
};

class EditorFiles : public ::testing::Test {
 protected:
  QString path(const QString& name) const { return dir.filePath(name); }

  QTemporaryDir dir;
  MemorySettingsStore settings;
  EditorWindow w{settings};
};

TEST_F(EditorFiles, OpenThenSaveGivesBackTheSameBytes) {
  const QList<QPair<QString, QByteArray>> files = {
      {"crlf.txt", "Title: Demo\r\nk |x---x---|\r\n\r\nsong AB\r\n"},
      {"lf.txt", "Title: Demo\nk |x---x---|\n"},
      // Windows-1252: é, €, a no-break space and an undefined byte.
      {"ansi.txt", "Caf\xE9 \x80\xA0x \x81\r\nk |x-|\r\n"},
      {"bom.txt", "\xEF\xBB\xBFk |x-|\r\n"},
  };
  for (const auto& [name, bytes] : files) {
    writeBytes(path(name), bytes);
    w.dialogs.openFileNames.push_back(path(name));
    w.commands->open();
    EXPECT_EQ(w.files().currentFileName(), path(name));
    EXPECT_FALSE(w.editor->document()->isModified());
    w.commands->save();
    EXPECT_EQ(readBytes(path(name)), bytes) << name.toStdString();
  }
  EXPECT_EQ(w.dialogs.saveDialogs, 0);
  EXPECT_TRUE(w.dialogs.messages.isEmpty());
  EXPECT_TRUE(w.dialogs.saveQuestions.isEmpty());

  // The decoded text is what the editor shows, one line per line.
  w.dialogs.openFileNames.push_back(path("ansi.txt"));
  w.commands->open();
  EXPECT_EQ(w.text(), QString::fromUtf8("Caf\xC3\xA9 \xE2\x82\xAC\xC2\xA0x \xC2\x81\nk |x-|"));
  EXPECT_EQ(w.editor->document()->blockCount(), 2);
  // A character Windows-1252 has no byte for turns the file into UTF-8 instead of
  // losing it.
  w.type(QString::fromUtf8(" \xE6\x97\xA5"));
  w.commands->save();
  EXPECT_EQ(readBytes(path("ansi.txt")),
            "Caf\xC3\xA9 \xE2\x82\xAC\xC2\xA0x \xC2\x81\r\nk |x-| \xE6\x97\xA5\r\n");
}

TEST_F(EditorFiles, NewSaveAndSaveAsFollowTheCurrentFile) {
  // A new document has no file: Save asks for one; a cancelled dialog writes nothing.
  w.commands->save();
  EXPECT_EQ(w.dialogs.saveDialogs, 1);
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());

  w.dialogs.saveFileNames.push_back(path("empty.txt"));
  EXPECT_TRUE(w.commands->save());
  EXPECT_EQ(readBytes(path("empty.txt")), "\r\n");

  w.type("k |x-|\nsong A");
  EXPECT_TRUE(w.commands->save());  // to the same file, no dialog
  EXPECT_EQ(w.dialogs.saveDialogs, 2);
  EXPECT_EQ(readBytes(path("empty.txt")), "k |x-|\r\nsong A\r\n");

  w.dialogs.saveFileNames.push_back(path("copy.txt"));
  w.commands->saveAs();
  EXPECT_EQ(w.files().currentFileName(), path("copy.txt"));
  EXPECT_EQ(readBytes(path("copy.txt")), "k |x-|\r\nsong A\r\n");

  w.commands->newDocument();  // nothing changed since the save: no question
  EXPECT_TRUE(w.dialogs.saveQuestions.isEmpty());
  EXPECT_EQ(w.text(), "");
  EXPECT_TRUE(w.files().currentFileName().isEmpty());

  // A cancelled open dialog reads nothing; a file that cannot be read leaves the
  // document as it was and says why.
  w.type("kept");
  w.editor->document()->setModified(false);
  w.commands->open();
  EXPECT_EQ(w.text(), "kept");
  w.dialogs.openFileNames.push_back(path("missing.txt"));
  w.commands->open();
  EXPECT_EQ(w.text(), "kept");
  EXPECT_TRUE(w.files().currentFileName().isEmpty());
  ASSERT_EQ(w.dialogs.messages.size(), 1);
  EXPECT_TRUE(w.dialogs.messages[0].contains(path("missing.txt")));
}

TEST_F(EditorFiles, AFailedSaveKeepsTheOldFileAndNamesIt) {
  writeBytes(path("song.txt"), "old text\r\n");
  w.dialogs.openFileNames.push_back(path("song.txt"));
  w.commands->open();
  w.type(QString(100000, QLatin1Char('x')));

  // The disk refuses the write half way (a file size limit applies even to root).
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool savedOk = w.commands->save();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(savedOk);
  EXPECT_EQ(readBytes(path("song.txt")), "old text\r\n");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"song.txt"});
  ASSERT_EQ(w.dialogs.messages.size(), 1);
  EXPECT_TRUE(w.dialogs.messages[0].contains(path("song.txt")));
  EXPECT_TRUE(w.editor->document()->isModified());

  // A place nothing can be written to: the document keeps its own file.
  for (const QString& bad : {QStringLiteral("/etc/passwd/x"), path("no-such-dir/x.txt")}) {
    w.dialogs.saveFileNames.push_back(bad);
    EXPECT_FALSE(w.commands->saveAs());
    EXPECT_TRUE(w.dialogs.messages.last().contains(bad)) << w.dialogs.messages.last().toStdString();
  }
  EXPECT_EQ(w.files().currentFileName(), path("song.txt"));
  EXPECT_TRUE(w.commands->save());
  EXPECT_EQ(readBytes(path("song.txt")).size(), 8 + 100000 + 2);
}

TEST_F(EditorFiles, ASmallSaveThatDoesNotFitFailsWithTheSystemsReason) {
  writeBytes(path("song.tab"), "old text\r\n");
  w.dialogs.openFileNames.push_back(path("song.tab"));
  w.commands->open();
  w.type(QString(3000, QLatin1Char('x')));  // fits the file's write buffer
  EXPECT_FALSE(withFileSizeLimit(1000, [&] { return w.commands->save(); }));
  EXPECT_EQ(readBytes(path("song.tab")), "old text\r\n");
  ASSERT_EQ(w.dialogs.messages.size(), 1);
  EXPECT_TRUE(w.dialogs.messages[0].contains("File too large"))
      << w.dialogs.messages[0].toStdString();
  EXPECT_TRUE(w.editor->document()->isModified());  // Exit still asks
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"song.tab"});
}

TEST_F(EditorFiles, OpenRefusesFifosDevicesAndFoldersAtOnce) {
  ASSERT_EQ(mkfifo(QFile::encodeName(path("pipe.tab")).constData(), 0600), 0);
  w.type("kept");
  w.editor->document()->setModified(false);
  for (const QString& special : {path("pipe.tab"), QStringLiteral("/dev/zero"), dir.path()}) {
    EXPECT_FALSE(w.files().openFile(special));  // returns, never blocks
    EXPECT_TRUE(w.dialogs.messages.last().contains("not a regular file"))
        << w.dialogs.messages.last().toStdString();
  }
  EXPECT_EQ(w.text(), "kept");
}

TEST_F(EditorFiles, ExportPdfWritesThePrintedText) {
  const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
  if (pdftotext.isEmpty()) GTEST_SKIP() << "poppler-utils missing";
  w.type("Title: Exported\nk |x-x-|");
  w.dialogs.exportFileNames.push_back(path("song"));  // ".pdf" is added
  w.commands->exportPdf();
  EXPECT_TRUE(readBytes(path("song.pdf")).startsWith("%PDF-"));
  QProcess text;
  text.start(pdftotext, {path("song.pdf"), "-"});
  ASSERT_TRUE(text.waitForFinished(30000));
  const QString printed = QString::fromUtf8(text.readAllStandardOutput());
  EXPECT_TRUE(printed.contains("Title: Exported")) << printed.toStdString();
  EXPECT_TRUE(printed.contains("k |x-x-|"));

  w.dialogs.exportFileNames.push_back(path("no-such-dir/out.pdf"));
  w.commands->exportPdf();
  ASSERT_EQ(w.dialogs.messages.size(), 1);
  EXPECT_TRUE(w.dialogs.messages[0].contains("no-such-dir/out.pdf"));
}

TEST_F(EditorFiles, ChangedTextIsOfferedForSavingBeforeItIsReplaced) {
  writeBytes(path("a.txt"), "A\r\n");
  writeBytes(path("b.txt"), "B\r\n");
  w.dialogs.openFileNames.push_back(path("a.txt"));
  w.commands->open();
  EXPECT_TRUE(w.commands->maybeSave());  // unchanged: no question
  EXPECT_TRUE(w.dialogs.saveQuestions.isEmpty());

  // Cancel keeps everything, for New, Open and closing alike.
  w.type("1");
  w.dialogs.saveChoices = {SaveChoice::Cancel, SaveChoice::Cancel, SaveChoice::Cancel};
  w.commands->newDocument();
  w.commands->open();
  EXPECT_FALSE(w.commands->maybeSave());
  EXPECT_EQ(w.dialogs.saveQuestions.size(), 3);
  EXPECT_EQ(w.dialogs.openDialogs, 1);  // Open asked before showing its dialog
  EXPECT_EQ(w.text(), "A1");
  EXPECT_EQ(w.files().currentFileName(), path("a.txt"));
  EXPECT_EQ(readBytes(path("a.txt")), "A\r\n");

  // Save writes the changes, then Open goes on.
  w.dialogs.saveChoices = {SaveChoice::Save};
  w.dialogs.openFileNames.push_back(path("b.txt"));
  w.commands->open();
  EXPECT_EQ(readBytes(path("a.txt")), "A1\r\n");
  EXPECT_EQ(w.text(), "B");

  // Discard drops them.
  w.type("2");
  w.dialogs.saveChoices = {SaveChoice::Discard};
  w.commands->newDocument();
  EXPECT_EQ(w.text(), "");
  EXPECT_EQ(readBytes(path("b.txt")), "B\r\n");

  // Save on a document without a file whose save dialog is cancelled: not safe to go on.
  w.type("3");
  w.dialogs.saveChoices = {SaveChoice::Save};
  EXPECT_FALSE(w.commands->maybeSave());
  w.dialogs.saveChoices = {SaveChoice::Save};
  w.dialogs.saveFileNames.push_back(path("c.txt"));
  EXPECT_TRUE(w.commands->maybeSave());
  EXPECT_EQ(readBytes(path("c.txt")), "3\r\n");
  EXPECT_TRUE(w.commands->maybeSave());
}

TEST_F(EditorFiles, PrintsTheTextInTheEditorsFontFamily) {
  if (QPrinterInfo::defaultPrinter().isNull()) {
    w.type("nowhere to go");
    w.commands->print();  // no printer: nothing printed, nothing said
    EXPECT_TRUE(w.dialogs.messages.isEmpty());
  }

  const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
  const QString pdffonts = QStandardPaths::findExecutable("pdffonts");
  if (pdftotext.isEmpty() || pdffonts.isEmpty()) GTEST_SKIP() << "poppler-utils missing";

  w.editor->setFont(QFont("DejaVu Serif", 14));
  w.editor->clear();
  w.type("Title: Printed\nk |x---x---|\nsong AB");
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(path("out.pdf"));
  w.files().printTo(printer, w.commands->fontFamily());

  QProcess text;
  text.start(pdftotext, {"-layout", path("out.pdf"), "-"});
  ASSERT_TRUE(text.waitForFinished(30000));
  const QString printed = QString::fromUtf8(text.readAllStandardOutput());
  EXPECT_TRUE(printed.contains("Title: Printed")) << printed.toStdString();
  EXPECT_TRUE(printed.contains("k |x---x---|"));
  EXPECT_TRUE(printed.contains("song AB"));

  QProcess fonts;
  fonts.start(pdffonts, {path("out.pdf")});
  ASSERT_TRUE(fonts.waitForFinished(30000));
  const QString fontList = QString::fromUtf8(fonts.readAllStandardOutput());
  EXPECT_TRUE(fontList.contains("DejaVuSerif")) << fontList.toStdString();
}

class EditorFind : public ::testing::Test {
 protected:
  FindReplaceDialog& openFind(const QString& text) {
    w.editor->setPlainText(text);
    w.commands->find();
    FindReplaceDialog* dialog = w.commands->editing().findDialog();
    EXPECT_NE(dialog, nullptr);
    return *dialog;
  }

  MemorySettingsStore settings;
  EditorWindow w{settings};
};

TEST_F(EditorFind, FindAndFindNextSelectEachMatchThenReportNone) {
  FindReplaceDialog& d = openFind("a Drum drum");
  EXPECT_EQ(d.windowTitle(), "Find and Replace");
  EXPECT_TRUE(d.isVisible());
  EXPECT_FALSE(d.replaceButton()->isEnabled());
  EXPECT_FALSE(d.replaceAllButton()->isEnabled());

  d.findEdit()->setText("drum");
  w.select(9, 0);  // Find starts at the beginning wherever the caret is
  d.findButton()->click();
  EXPECT_EQ(w.selectionStart(), 2);
  EXPECT_EQ(w.selectionLength(), 4);
  EXPECT_EQ(d.matchPos(), 3);
  EXPECT_TRUE(d.replaceButton()->isEnabled());
  d.caseSensitiveBox()->setChecked(true);
  d.findButton()->click();
  EXPECT_EQ(w.selectionStart(), 7);

  // Overlapping matches are all found; after the last, the next Find Next starts over.
  w.editor->setPlainText("aaa");
  d.caseSensitiveBox()->setChecked(false);
  d.findEdit()->setText("aa");
  d.findButton()->click();
  EXPECT_EQ(w.selectionStart(), 0);
  d.findNextButton()->click();
  EXPECT_EQ(w.selectionStart(), 1);
  EXPECT_TRUE(w.dialogs.messages.isEmpty());
  d.findNextButton()->click();
  EXPECT_EQ(w.dialogs.messages, QStringList{"No match found."});
  EXPECT_EQ(d.matchPos(), 0);
  EXPECT_FALSE(d.replaceButton()->isEnabled());
  EXPECT_FALSE(d.replaceAllButton()->isEnabled());
  d.findNextButton()->click();
  EXPECT_EQ(w.selectionStart(), 0);
  EXPECT_EQ(w.selectionLength(), 2);

  // An empty find text matches nothing.
  d.findEdit()->clear();
  d.findButton()->click();
  EXPECT_EQ(w.dialogs.messages.size(), 2);

  // Positions go on past 32,767.
  w.editor->setPlainText(QString(40000, QLatin1Char('-')) + "snare");
  d.findEdit()->setText("SNARE");
  d.findButton()->click();
  EXPECT_EQ(w.selectionStart(), 40000);
  EXPECT_EQ(d.matchPos(), 40001);
}

TEST_F(EditorFind, ReplaceActsOnTheSelectionAndReplaceAllAlwaysEnds) {
  FindReplaceDialog& d = openFind("tom tom tom");
  d.findEdit()->setText("tom");
  d.replaceEdit()->setText("kick");
  d.findButton()->click();
  w.select(4, 3);  // the user moves the selection after the search
  d.replaceButton()->click();
  EXPECT_EQ(w.text(), "tom kick tom");
  // Find Next resumed one character after the last match's start.
  EXPECT_EQ(w.selectionStart(), 9);

  w.editor->setPlainText("aaaa");
  d.findEdit()->setText("aa");
  d.replaceEdit()->setText("a");
  d.findButton()->click();
  d.replaceAllButton()->click();
  EXPECT_EQ(w.text(), "a");
  EXPECT_FALSE(d.replaceButton()->isEnabled());
  EXPECT_FALSE(d.replaceAllButton()->isEnabled());
  EXPECT_EQ(d.matchPos(), 0);

  // A replacement containing the find text replaces each original occurrence once.
  w.editor->setPlainText("x |x-x-|");
  d.findEdit()->setText("X");
  d.replaceEdit()->setText("xx");
  d.findButton()->click();
  d.replaceAllButton()->click();
  EXPECT_EQ(w.text(), "xx |xx-xx-|");
  // One edit: a single undo gives the old text back.
  w.editor->undo();
  EXPECT_EQ(w.text(), "x |x-x-|");

  // Replace All with an empty find text changes nothing; nor does one without a match,
  // which shows no message.
  d.findEdit()->clear();
  d.replaceAllButton()->click();
  EXPECT_EQ(w.text(), "x |x-x-|");
  d.findEdit()->setText("q");
  d.replaceAllButton()->click();
  EXPECT_EQ(w.text(), "x |x-x-|");
  EXPECT_TRUE(w.dialogs.messages.isEmpty());
}

TEST_F(EditorFind, CloseHidesTheWindowAndItsCloseBoxDestroysIt) {
  FindReplaceDialog& d = openFind("abc");
  d.findEdit()->setText("b");
  d.replaceEdit()->setText("B");
  d.caseSensitiveBox()->setChecked(true);
  d.findButton()->click();
  d.closeButton()->click();
  EXPECT_FALSE(d.isVisible());
  w.commands->find();
  QTest::keyClick(&d, Qt::Key_Escape);  // hides too, keeping the texts
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_EQ(w.commands->editing().findDialog(), &d);
  EXPECT_FALSE(d.isVisible());

  w.commands->find();  // the same window, as it was, Replace disabled again
  ASSERT_EQ(w.commands->editing().findDialog(), &d);
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.findEdit()->text(), "b");
  EXPECT_TRUE(d.caseSensitiveBox()->isChecked());
  EXPECT_EQ(d.matchPos(), 2);
  EXPECT_FALSE(d.replaceButton()->isEnabled());

  d.close();  // the window's close box
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(w.commands->editing().findDialog(), nullptr);
  w.commands->find();
  FindReplaceDialog* fresh = w.commands->editing().findDialog();
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(fresh->findEdit()->text().isEmpty());
  EXPECT_FALSE(fresh->caseSensitiveBox()->isChecked());
  EXPECT_EQ(fresh->matchPos(), 0);
}

TEST(EditorEditing, SelectionAndClipboardCommands) {
  MemorySettingsStore settings;
  EditorWindow w(settings);
  QClipboard* clipboard = QGuiApplication::clipboard();
  w.type(QString::fromUtf8("k |x-\xC2\xA0x|\nsong AB"));

  w.commands->selectAll();
  EXPECT_EQ(w.selectionStart(), 0);
  EXPECT_EQ(w.selectionLength(), w.text().size());
  w.select(5, 3);
  w.commands->selectNone();
  EXPECT_EQ(w.editor->textCursor().position(), 5);
  EXPECT_EQ(w.selectionLength(), 0);

  // Nothing selected: the clipboard keeps what it had, and the text stays.
  clipboard->setText("before");
  w.commands->copy();
  w.commands->cut();
  EXPECT_EQ(clipboard->text(), "before");
  EXPECT_EQ(w.text().size(), 16);

  // Copy and cut carry lines and no-break spaces as they are; paste puts them back.
  w.select(3, 8);
  w.commands->copy();
  EXPECT_EQ(clipboard->text(), QString::fromUtf8("x-\xC2\xA0x|\nso"));
  w.commands->cut();
  EXPECT_EQ(w.text(), "k |ng AB");
  w.commands->paste();
  EXPECT_EQ(w.text(), QString::fromUtf8("k |x-\xC2\xA0x|\nsong AB"));
  w.select(0, 1);
  w.commands->paste();  // in place of the selection
  EXPECT_EQ(w.text(), QString::fromUtf8("x-\xC2\xA0x|\nso |x-\xC2\xA0x|\nsong AB"));

  clipboard->clear();
  const QString before = w.text();
  w.select(0, 3);
  w.commands->paste();  // an empty clipboard changes nothing
  EXPECT_EQ(w.text(), before);
}

TEST(EditorAppearance, ChoicesAreStoredAndComeBackAfterARestart) {
  QTemporaryDir dir;
  const QString iniFile = dir.filePath("Pulsewright.ini");
  {
    // First run: nothing stored yet.
    IniSettingsStore settings(iniFile);
    EditorWindow w(settings);
    w.commands->applyStoredAppearance();
    EXPECT_EQ(w.editor->font().family(), "Courier");
    EXPECT_EQ(w.editor->font().pointSize(), 10);
    EXPECT_EQ(w.editor->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(w.editor->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(w.commands->fontFamily(), "Courier");

    // Cancelled dialogs change and store nothing.
    w.commands->foreground();
    w.commands->chooseFont();
    EXPECT_TRUE(settings.keys(kLookAndFeelSection).isEmpty());

    // A colour change stores all four keys.
    w.dialogs.colors.push_back(QColor(0, 0, 128));
    w.commands->background();
    EXPECT_EQ(w.dialogs.initialColors.value(1), QColor(Qt::white));
    EXPECT_EQ(w.editor->palette().color(QPalette::Base), QColor(0, 0, 128));
    EXPECT_EQ(settings.GetSetting(kLookAndFeelSection, "BackColor", ""), "8388608");
    EXPECT_EQ(settings.GetSetting(kLookAndFeelSection, "ForeColor", ""), "0");
    EXPECT_EQ(settings.GetSetting(kLookAndFeelSection, "FontName", ""), "Courier");
    EXPECT_EQ(settings.GetSetting(kLookAndFeelSection, "FontSize", ""), "10");

    w.dialogs.colors.push_back(QColor(255, 0, 0));
    w.commands->foreground();
    EXPECT_EQ(settings.GetSetting(kLookAndFeelSection, "ForeColor", ""), "255");

    QFont chosen("DejaVu Sans Mono");
    chosen.setPointSizeF(9.75);
    chosen.setBold(true);
    w.dialogs.fonts.push_back(chosen);
    w.commands->chooseFont();
    // The dialog opens on the family really shown, which it can find ("Courier" it cannot).
    EXPECT_EQ(w.dialogs.initialFonts.value(1).family(), QFontInfo(QFont("Courier")).family());
    EXPECT_TRUE(w.editor->font().bold());
    EXPECT_EQ(w.commands->fontFamily(), "DejaVu Sans Mono");
    EXPECT_EQ(settings.GetSetting(kLookAndFeelSection, "FontSize", ""), "9.75");
  }
  {
    // Restarted: 9.75 points comes back as 10, with its style.
    IniSettingsStore settings(iniFile);
    EditorWindow w(settings);
    w.commands->applyStoredAppearance();
    EXPECT_EQ(w.editor->font().family(), "DejaVu Sans Mono");
    EXPECT_EQ(w.editor->font().pointSize(), 10);
    EXPECT_TRUE(w.editor->font().bold());
    EXPECT_FALSE(w.editor->font().italic());
    EXPECT_EQ(w.editor->palette().color(QPalette::Text), QColor(255, 0, 0));
    EXPECT_EQ(w.editor->palette().color(QPalette::Base), QColor(0, 0, 128));

    settings.SaveSetting(kLookAndFeelSection, "FontSize", "8.5");
    settings.SaveSetting(kLookAndFeelSection, "ForeColor", "not a colour");
    w.commands->applyStoredAppearance();
    EXPECT_EQ(w.editor->font().pointSize(), 8);
    EXPECT_EQ(w.editor->palette().color(QPalette::Text), QColor(255, 0, 0));  // kept
  }
  {
    // A settings file that cannot be written: the change holds, and the user is told.
    MemorySettingsStore settings;
    settings.setFailWrites(true);
    EditorWindow w(settings);
    w.dialogs.colors.push_back(QColor(0, 128, 0));
    w.commands->foreground();
    EXPECT_EQ(w.editor->palette().color(QPalette::Text), QColor(0, 128, 0));
    ASSERT_EQ(w.dialogs.messages.size(), 1);
    EXPECT_TRUE(w.dialogs.messages[0].contains("could not be saved"));
  }
}

}  // namespace
