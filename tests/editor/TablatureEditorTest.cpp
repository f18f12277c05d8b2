// The tablature editor offscreen: the colours of each line kind on light and dark
// backgrounds, problems as underlines, tooltips, gutter markers and the problems list,
// overwrite mode over a grid, the playing characters, and File > Recent with the title.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <algorithm>
#include <array>
#include <future>

#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "editor/EditorText.h"
#include "editor/LargeTextPreview.h"
#include "editor/ProblemsPanel.h"
#include "editor/RecentFiles.h"
#include "editor/TablatureEditor.h"
#include "editor/TablatureHighlighter.h"
#include "tablature/GrooveEdit.h"
#include "tests/support/MemorySettingsStore.h"
#include "tests/support/ScriptedUserDialogs.h"
#include "text/DocumentText.h"

namespace pulsewright {
namespace {

template <typename F>
bool waitFor(F done, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

QTextCharFormat formatAt(const TablatureEditor& editor, int line, int column) {
  const QTextBlock block = editor.document()->findBlockByNumber(line - 1);
  for (const QTextLayout::FormatRange& r : block.layout()->formats()) {
    if (column >= r.start && column < r.start + r.length) return r.format;
  }
  return {};
}

QColor colorAt(const TablatureEditor& editor, int line, int column) {
  return formatAt(editor, line, column).foreground().color();
}

const QString kEveryKind = QStringLiteral(
    "meta title = Rock\n"               // 1
    "k = kick\n"                        // 2
    "w = wave clap.wav pan 0\n"         // 3
    "part = A tempo = 120 notes = 8\n"  // 4
    "k |x-X-3-o-|[xxx]|\n"              // 5
    "song = AA\n"                       // 6
    "a remark\n");                      // 7

void setColors(TablatureEditor& editor, const QColor& text, const QColor& base) {
  QPalette p = editor.palette();
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Base, base);
  editor.setPalette(p);
}

TEST(TablatureEditor, EachLineKindHasItsStyleOnLightAndDarkBackgrounds) {
  TablatureEditor editor;
  for (const auto& [text, base] : {std::pair{QColor(Qt::black), QColor(Qt::white)},
                                   std::pair{QColor(0xe0, 0xe0, 0xe0), QColor(0x1e, 0x1e, 0x1e)}}) {
    setColors(editor, text, base);
    editor.setPlainText(kEveryKind);
    const LineStyles& s = editor.highlighter().styles();
    EXPECT_EQ(colorAt(editor, 1, 2), s.meta.foreground().color());
    EXPECT_TRUE(formatAt(editor, 1, 2).fontItalic());
    EXPECT_EQ(colorAt(editor, 2, 0), s.voice.foreground().color());
    EXPECT_EQ(colorAt(editor, 3, 4), s.wave.foreground().color());
    EXPECT_EQ(colorAt(editor, 4, 0), s.section.foreground().color());
    EXPECT_EQ(formatAt(editor, 4, 0).fontWeight(), QFont::Bold);
    EXPECT_EQ(colorAt(editor, 6, 0), s.song.foreground().color());
    EXPECT_EQ(colorAt(editor, 7, 0), s.plain.foreground().color());
    // The grid step by step: symbol, bar, hit, rest, accent, level 3, level 5, bracket.
    EXPECT_EQ(colorAt(editor, 5, 0), s.gridSymbol.foreground().color());
    EXPECT_EQ(colorAt(editor, 5, 2), s.bar.foreground().color());
    EXPECT_EQ(colorAt(editor, 5, 3), s.level[5].foreground().color());
    EXPECT_EQ(colorAt(editor, 5, 4), s.rest.foreground().color());
    EXPECT_EQ(colorAt(editor, 5, 5), s.accent.foreground().color());
    EXPECT_EQ(formatAt(editor, 5, 5).fontWeight(), QFont::Bold);
    EXPECT_EQ(colorAt(editor, 5, 7), s.level[3].foreground().color());
    EXPECT_EQ(colorAt(editor, 5, 12), s.bracket.foreground().color());

    // Every kind reads on this background; dimmed ones less, but still.
    for (const QTextCharFormat* f :
         {&s.voice, &s.section, &s.song, &s.wave, &s.meta, &s.gridSymbol, &s.accent, &s.bracket}) {
      EXPECT_GE(contrastRatio(f->foreground().color(), base), 4.5) << base.name().toStdString();
    }
    for (const QTextCharFormat* f : {&s.plain, &s.rest, &s.bar, &s.level[0]}) {
      EXPECT_GE(contrastRatio(f->foreground().color(), base), 2.0) << base.name().toStdString();
    }
    EXPECT_GE(contrastRatio(s.error, base), 4.5);
    // Louder hits stand out more.
    EXPECT_LT(contrastRatio(s.level[1].foreground().color(), base),
              contrastRatio(s.level[8].foreground().color(), base));
  }

  // A megabyte on one line stays plain rather than stall typing.
  QTextDocument big;
  TablatureHighlighter plain(&big);
  big.documentLayout();  // a document tells of changes once it has a layout
  big.setPlainText(QStringLiteral("k |") + QString(1 << 20, QLatin1Char('x')) + "|\nk |x-|");
  EXPECT_TRUE(big.firstBlock().layout()->formats().isEmpty());
  EXPECT_FALSE(big.lastBlock().layout()->formats().isEmpty());
}

TEST(TablatureEditor, ProblemsAreUnderlinedMarkedListedAndReachable) {
  QWidget window;
  auto* editor = new TablatureEditor(&window);
  auto* panel = new ProblemsPanel(*editor, &window);
  editor->setGeometry(0, 0, 600, 300);
  panel->setGeometry(0, 300, 600, 150);
  window.resize(600, 450);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  // "é" and "𝄞" are parts: the fault after them sits at UTF-16 offset 12 (column 11).
  editor->setPlainText(QStringLiteral(
      "k = kick\npart = é tempo = 100 notes = 8\nk |x-|\npart = 𝄞 tempo = 100 notes = 8\n"
      "k |x-|\nsong = é𝄞𝄞Zé\nk |x-g-|"));
  // Found on the checking thread a moment after the text changed.
  ASSERT_TRUE(waitFor([&] { return editor->diagnostics().size() == 2; }));
  const Diagnostic& z = editor->diagnostics()[0];
  EXPECT_EQ(z.line, 6);
  EXPECT_EQ(z.column, 11);
  EXPECT_EQ(z.utf16Column, 12);

  const QTextCharFormat under = formatAt(*editor, 6, 12);
  EXPECT_EQ(under.underlineStyle(), QTextCharFormat::WaveUnderline);
  EXPECT_EQ(under.underlineColor(), editor->highlighter().styles().error);
  EXPECT_NE(formatAt(*editor, 6, 11).underlineStyle(), QTextCharFormat::WaveUnderline);
  EXPECT_EQ(colorAt(*editor, 6, 12), editor->highlighter().styles().song.foreground().color());

  QTextCursor at(editor->document()->findBlockByNumber(5));
  at.setPosition(at.block().position() + 12);
  const QString tip = editor->diagnosticsTextAt(editor->cursorRect(at).center() + QPoint(2, 0));
  EXPECT_TRUE(tip.startsWith("error: 'Z' in the song names no part")) << tip.toStdString();
  EXPECT_GT(editor->gutter()->width(), 0);
  EXPECT_FALSE(editor->gutter()->grab().isNull());

  ASSERT_EQ(panel->topLevelItemCount(), 2);
  EXPECT_EQ(panel->topLevelItem(1)->text(0), "7");
  EXPECT_EQ(panel->topLevelItem(1)->text(1), "6");
  EXPECT_EQ(panel->topLevelItem(1)->text(2), "error");
  panel->scrollToItem(panel->topLevelItem(0));
  const QRect row = panel->visualItemRect(panel->topLevelItem(0));
  // A double-click is a press and release followed by the double-click press.
  QTest::mouseClick(panel->viewport(), Qt::LeftButton, {}, row.center());
  QTest::mouseDClick(panel->viewport(), Qt::LeftButton, {}, row.center());

  EXPECT_EQ(editor->textCursor().selectedText(), "Z");
  EXPECT_EQ(editor->textCursor().blockNumber(), 5);

  // Mended, the problem goes from every place at the next check.
  QTextCursor fix = editor->textCursor();
  fix.insertText(QStringLiteral("é"));
  ASSERT_TRUE(waitFor([&] { return editor->diagnostics().size() == 1; }));
  EXPECT_NE(formatAt(*editor, 6, 12).underlineStyle(), QTextCharFormat::WaveUnderline);
  EXPECT_EQ(panel->topLevelItemCount(), 1);
  EXPECT_EQ(editor->document()->findBlockByNumber(5).userData(), nullptr);

  // Colouring is no edit: new colours neither tell the views the text changed (they
  // compile it again) nor make the editor check it again.
  int changes = 0;
  int checks = 0;
  QObject::connect(editor, &QPlainTextEdit::textChanged, [&] { ++changes; });
  QObject::connect(editor, &TablatureEditor::diagnosticsChanged, [&] { ++checks; });
  setColors(*editor, Qt::white, Qt::black);
  QTest::qWait(TablatureEditor::kCheckDelayMs + 200);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(checks, 0);
  EXPECT_EQ(colorAt(*editor, 6, 0), editor->highlighter().styles().song.foreground().color());
  // A problem found meanwhile is still shown once the text is recoloured.
  fix.insertText(QStringLiteral("Z"));
  setColors(*editor, Qt::black, Qt::white);
  ASSERT_TRUE(waitFor([&] { return editor->diagnostics().size() == 2; }));
  EXPECT_EQ(changes, 1);
}

TEST(TablatureEditor, InsertTogglesOverwriteWhichKeepsBarLinesInPlace) {
  TablatureEditor editor;
  editor.setPlainText(QStringLiteral("k |x-x-|x-x-|\nplain text"));
  QTextCursor c = editor.textCursor();
  c.setPosition(7);  // on the second bar line
  editor.setTextCursor(c);
  QTest::keyClick(&editor, Qt::Key_Insert);
  EXPECT_TRUE(editor.overwriteMode());
  QTest::keyClicks(&editor, "oo");
  EXPECT_EQ(editor.document()->firstBlock().text(), "k |x-x-|oox-|");
  QTest::keyClick(&editor, Qt::Key_Backspace);
  QTest::keyClick(&editor, Qt::Key_Backspace);
  QTest::keyClick(&editor, Qt::Key_Backspace);  // over the bar: it stays
  EXPECT_EQ(editor.document()->firstBlock().text(), "k |x-x-|--x-|");
  EXPECT_EQ(editor.textCursor().position(), 7);
  // Away from a grid, overwrite is plain overwrite.
  c.setPosition(editor.document()->findBlockByNumber(1).position());
  editor.setTextCursor(c);
  QTest::keyClicks(&editor, "PL");
  EXPECT_EQ(editor.document()->findBlockByNumber(1).text(), "PLain text");
  QTest::keyClick(&editor, Qt::Key_Insert);
  EXPECT_FALSE(editor.overwriteMode());
}

TEST(TablatureEditor, PlayingCharactersAreHighlightedAndFollowedUntilTheUserScrollsAway) {
  TablatureEditor editor;
  editor.resize(400, 200);
  editor.show();
  QString text;
  for (int i = 1; i <= 400; ++i)
    text += i == 300 ? "k |x-x-|\n" : i == 301 ? "s |-x-x|\n" : "remark\n";
  editor.setPlainText(text);
  ASSERT_EQ(editor.verticalScrollBar()->value(), 0);
  // Lines far from the view, of any kind, are coloured when they come into it.
  const QTextBlock grid = editor.document()->findBlockByNumber(299);
  EXPECT_TRUE(TablatureHighlighter::isShadedLater(grid));
  EXPECT_TRUE(TablatureHighlighter::isShadedLater(editor.document()->findBlockByNumber(389)));
  EXPECT_EQ(formatAt(editor, 390, 0).foreground().style(), Qt::NoBrush);  // not even read

  editor.setPlayingCharacters({{300, 6, 5}, {301, 6, 5}});
  auto selections = editor.extraSelections();
  ASSERT_EQ(selections.size(), 2);
  EXPECT_EQ(selections[0].cursor.selectedText(), "x");
  EXPECT_EQ(selections[1].cursor.selectedText(), "-");
  EXPECT_EQ(selections[1].cursor.blockNumber(), 300);
  const int followed = editor.verticalScrollBar()->value();
  EXPECT_GT(followed, 280);
  EXPECT_LE(followed, 299);
  EXPECT_TRUE(editor.followsPlaying());
  EXPECT_FALSE(TablatureHighlighter::isShadedLater(grid));
  EXPECT_EQ(colorAt(editor, 300, 3), editor.highlighter().styles().level[5].foreground().color());
  EXPECT_EQ(colorAt(editor, 390, 0), editor.highlighter().styles().plain.foreground().color());

  // The user looks elsewhere: the view stays there while the song goes on.
  editor.verticalScrollBar()->setValue(0);
  EXPECT_FALSE(editor.followsPlaying());
  editor.setPlayingCharacters({{300, 8, 7}, {301, 8, 7}});
  EXPECT_EQ(editor.verticalScrollBar()->value(), 0);
  EXPECT_EQ(editor.extraSelections()[0].cursor.selectedText(), "|");
  // Positions past a line's end (the text was edited) are left out.
  editor.setPlayingCharacters({{300, 50, 49}, {9999, 1, 0}});
  EXPECT_TRUE(editor.extraSelections().isEmpty());

  editor.clearPlayingCharacters();
  EXPECT_TRUE(editor.extraSelections().isEmpty());
  EXPECT_TRUE(editor.followsPlaying());
}

TEST(TablatureEditor, BoldMarksSurviveAFontChosenWithAStyleName) {
  MemorySettingsStore settings;
  ScriptedUserDialogs dialogs;
  QWidget window;
  auto& editor = *new TablatureEditor(&window);
  EditorCommands commands(&editor, &window, dialogs, settings);
  editor.setPlainText(kEveryKind);
  // What the font dialog hands back: the face named by its style.
  QFont chosen("DejaVu Sans Mono", 11);
  chosen.setStyleName("Book");
  dialogs.fonts.push_back(chosen);
  commands.chooseFont();
  EXPECT_EQ(editor.font().family(), "DejaVu Sans Mono");
  EXPECT_EQ(editor.font().pointSize(), 11);
  EXPECT_TRUE(editor.font().styleName().isEmpty());
  // The section line and the accent are drawn bold: more ink than the plain text.
  auto ink = [](const QFont& font) {
    QImage image(400, 60, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.drawText(5, 45, QStringLiteral("part = XOXO"));
    painter.end();
    long dark = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) dark += 255 - qGray(image.pixel(x, y));
    }
    return dark;
  };
  const long plain = ink(editor.font());
  for (const auto& [line, column] : {std::pair{4, 0}, std::pair{5, 5}}) {
    const QFont drawn = formatAt(editor, line, column).font().resolve(editor.font());
    EXPECT_GT(ink(drawn), plain * 11 / 10) << line;
  }
}

// A large document is laid out aside: its first lines show at once, read-only, then the
// whole text comes in byte for byte, unchanged and with nothing to undo, and typing,
// undo, saving and the check work on it as on any other.
TEST(TablatureEditor, ALargeDocumentLoadsAsideAndKeepsItsBytes) {
  QTemporaryDir dir;
  MemorySettingsStore settings;
  ScriptedUserDialogs dialogs;
  QWidget window;
  auto* editor = new TablatureEditor(&window);
  editor->resize(600, 400);
  window.show();
  EditorCommands commands(editor, &window, dialogs, settings);
  QByteArray bytes = "k = kick\r\ns = snare\r\n";
  int lines = 2;
  while (bytes.size() < TablatureEditor::kLoadAsideFrom + TablatureEditor::kLoadAsideFrom / 5) {
    bytes +=
        "part = A tempo = 120 notes = 8\r\nk |x-x-x-x-|\r\ns |--x---x-|\r\n"
        "Caf\xC3\xA9\xC2\xA0\tremark\r\n";
    lines += 4;
  }
  bytes += "q |x-x-|\r\nsong = A\r\n";
  lines += 2;
  const QString path = dir.filePath("large.tab");
  auto write = [](const QString& to, const QByteArray& content) {
    QFile file(to);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
  };
  auto read = [](const QString& from) {
    QFile file(from);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  };
  ASSERT_TRUE(write(path, bytes));

  ASSERT_TRUE(commands.documents().openFile(path));
  EXPECT_TRUE(editor->isLoading());
  EXPECT_TRUE(editor->isReadOnly());
  EXPECT_FALSE(editor->document()->isModified());
  ASSERT_NE(editor->preview(), nullptr);
  EXPECT_EQ(editor->preview()->lineCount(), lines);
  ASSERT_TRUE(waitFor([&] { return !editor->isLoading(); }, 60000));
  EXPECT_FALSE(editor->isReadOnly());
  EXPECT_FALSE(editor->document()->isModified());
  EXPECT_FALSE(editor->document()->isUndoAvailable());
  EXPECT_EQ(editor->blockCount(), lines);
  // More digits than the empty document had: the gutter widened with them.
  EXPECT_EQ(editor->gutter()->width(), editor->gutterWidth());
  EXPECT_GT(editor->gutterWidth(), editor->gutterWidthFor(1));
  EXPECT_EQ(commands.documentTitle("App"), "large.tab - App");
  const QString copy = dir.filePath("copy.tab");
  ASSERT_TRUE(commands.documents().saveToFile(copy));
  EXPECT_TRUE(read(copy) == bytes);
  QApplication::processEvents();
  EXPECT_FALSE(editor->document()->firstBlock().layout()->formats().isEmpty());

  editor->checkNow();
  EXPECT_TRUE(std::any_of(editor->diagnostics().begin(), editor->diagnostics().end(),
                          [&](const Diagnostic& d) { return d.line == lines - 1; }));
  editor->moveCursor(QTextCursor::End);
  QTest::keyClick(editor, Qt::Key_X);
  EXPECT_TRUE(editor->document()->isModified());
  EXPECT_TRUE(editorText(*editor).endsWith("song = Ax"));
  commands.undo();
  EXPECT_FALSE(editor->document()->isModified());
  ASSERT_TRUE(commands.documents().saveToFile(copy));
  EXPECT_TRUE(read(copy) == bytes);

  // Reading the text waits for it; another document opened meanwhile replaces it.
  ASSERT_TRUE(commands.documents().openFile(path));
  EXPECT_TRUE(editor->isLoading());
  QString expected = QString::fromUtf8(bytes).replace("\r\n", "\n");
  expected.chop(1);
  EXPECT_TRUE(editorText(*editor) == expected);
  EXPECT_FALSE(editor->isLoading());
  ASSERT_TRUE(commands.documents().openFile(path));
  const QString small = dir.filePath("small.tab");
  ASSERT_TRUE(write(small, "k = kick\r\n"));
  ASSERT_TRUE(commands.documents().openFile(small));
  EXPECT_FALSE(editor->isLoading());
  EXPECT_FALSE(editor->isReadOnly());
  QApplication::processEvents();
  EXPECT_EQ(editorText(*editor), "k = kick");
}

// While a large document loads aside, the whole of it shows at once and scrolls; an edit
// is refused with a message rather than lost, and Save writes its bytes without waiting.
// The editor then takes it at the line in view. The loading thread is held meanwhile.
TEST(TablatureEditor, ALargeDocumentShowsWholeWhileItLoads) {
  QTemporaryDir dir;
  MemorySettingsStore settings;
  ScriptedUserDialogs dialogs;
  QWidget window;
  auto* editor = new TablatureEditor(&window);
  editor->setLineWrapMode(QPlainTextEdit::NoWrap);
  editor->resize(600, 400);
  window.show();
  EditorCommands commands(editor, &window, dialogs, settings);
  QByteArray bytes = "k = kick\ns = snare\n";
  int lines = 2;
  while (bytes.size() < TablatureEditor::kLoadAsideFrom + TablatureEditor::kLoadAsideFrom / 10) {
    bytes += "part = A tempo = 120 notes = 8\nk |x-x-x-x-|\ns |--x---x-|\nremark\n";
    lines += 4;
  }
  // A line too long to colour, drawn only where it is in view.
  bytes += "k |" + QByteArray(30000, 'x') + "|\nsong = A\n";
  lines += 2;
  const QString path = dir.filePath("large.tab");
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
  }
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  editor->setLoadStartHook([released] { released.wait(); });
  editor->setFocus();

  ASSERT_TRUE(commands.documents().openFile(path));
  LargeTextPreview* preview = editor->preview();
  ASSERT_NE(preview, nullptr);
  EXPECT_TRUE(preview->isVisible());
  EXPECT_EQ(window.focusWidget(), preview);
  EXPECT_EQ(preview->lineCount(), lines);
  QTest::keyClick(preview, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(preview->visibleLines().second, lines - 1);
  EXPECT_EQ(preview->line(lines - 1), "song = A");
  preview->horizontalScrollBar()->setValue(preview->horizontalScrollBar()->maximum());
  EXPECT_FALSE(preview->viewport()->grab().isNull());
  preview->horizontalScrollBar()->setValue(0);
  for (int page = 0; page < 3; ++page) QTest::keyClick(preview, Qt::Key_PageUp);
  const int top = preview->topLine();
  EXPECT_GT(top, 0);
  EXPECT_LT(top, lines - 3 * (preview->visibleLines().second - top));

  QStringList refused;
  QObject::connect(editor, &TablatureEditor::editRefused,
                   [&](const QString& message) { refused << message; });
  QTest::keyClick(preview, Qt::Key_Z);
  QTest::keyClick(editor, Qt::Key_Z);
  QGuiApplication::clipboard()->setText("zz");
  commands.paste();
  ASSERT_EQ(refused.size(), 3);
  EXPECT_TRUE(refused.front().startsWith("Loading the document"));
  const QString copy = dir.filePath("copy.tab");
  ASSERT_TRUE(commands.documents().saveToFile(copy));
  {
    QFile file(copy);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == bytes);
  }
  EXPECT_TRUE(editor->isLoading());

  const QImage shown = preview->grab().toImage();
  release.set_value();
  ASSERT_TRUE(waitFor([&] { return !editor->isLoading(); }, 60000));
  // Drawn alike, line for line: below the caret's line and the notice, clear of the
  // scroll bars.
  const QRect alike(0, 30, shown.width() - 20, shown.height() - 50);
  EXPECT_TRUE(editor->grab().toImage().copy(alike) == shown.copy(alike));
  EXPECT_EQ(editor->preview(), nullptr);
  EXPECT_EQ(editor->cursorForPosition(QPoint(1, 1)).blockNumber(), top);
  EXPECT_EQ(editor->textCursor().blockNumber(), top);
  EXPECT_EQ(window.focusWidget(), editor);
  EXPECT_FALSE(editor->document()->isModified());
  QString expected = QString::fromUtf8(bytes);
  expected.chop(1);
  EXPECT_TRUE(editorText(*editor) == expected);

  // Text put in past the preview (as a template is) is kept, at the caret.
  ASSERT_TRUE(commands.documents().openFile(path));
  editor->insertPlainText("t");
  EXPECT_TRUE(editorText(*editor) == "t" + expected);
  EXPECT_TRUE(editor->document()->isModified());

  // Gone while it loads: the loading thread is waited for.
  ASSERT_TRUE(commands.documents().openFile(path));
  EXPECT_TRUE(editor->isLoading());
  delete editor;
}

TEST(EditorCommands, RecentFilesAndTheTitleFollowOpenAndSave) {
  QTemporaryDir dir;
  MemorySettingsStore settings;
  ScriptedUserDialogs dialogs;
  QWidget window;
  auto* editor = new TablatureEditor(&window);
  EditorCommands commands(editor, &window, dialogs, settings);
  EXPECT_EQ(commands.documentTitle("App"), "App");
  editor->insertPlainText("k = kick");
  EXPECT_EQ(commands.documentTitle("App"), "Untitled* - App");

  QStringList paths;
  for (int i = 0; i < 10; ++i) {
    paths << dir.filePath(QStringLiteral("song%1.tab").arg(i));
    ASSERT_TRUE(commands.documents().saveToFile(paths.back()));
  }
  EXPECT_EQ(commands.documentTitle("App"), "song9.tab - App");
  editor->insertPlainText("!");
  EXPECT_EQ(commands.documentTitle("App"), "song9.tab* - App");
  ASSERT_TRUE(commands.documents().saveToFile(paths[0]));  // back to the front, once

  // Newest first, eight of them, and still there for the next run.
  const QStringList expected{paths[0], paths[9], paths[8], paths[7],
                             paths[6], paths[5], paths[4], paths[3]};
  EXPECT_EQ(RecentFiles(settings).files(), expected);

  QMenu menu;
  commands.recentFiles().attachMenu(&menu);
  emit menu.aboutToShow();
  ASSERT_EQ(menu.actions().size(), 8);
  EXPECT_EQ(menu.actions()[1]->text(), "&2 song9.tab");
  menu.actions()[1]->trigger();
  EXPECT_EQ(commands.documents().currentFileName(), paths[9]);
  EXPECT_EQ(editorText(*editor), "k = kick");

  // A file that has gone leaves the list, with a message.
  QFile::remove(paths[8]);
  commands.openRecent(paths[8]);
  EXPECT_EQ(dialogs.messages.size(), 1);
  EXPECT_FALSE(commands.recentFiles().files().contains(paths[8]));
  EXPECT_EQ(commands.documents().currentFileName(), paths[9]);

  editor->insertPlainText("X");
  commands.undo();
  EXPECT_EQ(editorText(*editor), "k = kick");
  commands.redo();
  EXPECT_EQ(editorText(*editor), "Xk = kick");
}

// A groove edit's changes count bytes of the text with CR LF line ends; the editor counts
// UTF-16 units with one per line end. Applied, they touch only their own characters and
// undo as one step.
TEST(TablatureEditor, AGrooveEditIsOneUndoStepOfOnlyItsCharacters) {
  auto editor = std::make_unique<TablatureEditor>();
  const QString before = QString::fromUtf8(
      "meta title = Caf\u00e9 \U0001D11E groove\nk = kick\ns = snare\n"
      "part = A tempo = 120 notes = 8\nk |x-x-|\ns |--x-|\nsong = A\n");
  editor->setPlainText(before);
  const GrooveDocument groove(joinLinesWithCrLf(before.toStdString()));
  const GrooveEdit edit = groove.setStep(1, "snare", 3, 'x');
  ASSERT_TRUE(edit.ok()) << edit.error;
  ASSERT_EQ(edit.changes.size(), 1u);

  std::vector<std::array<int, 3>> touched;  // position, removed, added
  QObject::connect(editor->document(), &QTextDocument::contentsChange,
                   [&](int position, int removed, int added) {
                     touched.push_back({position, removed, added});
                   });
  ASSERT_TRUE(editor->applyTextChanges(edit.changes));
  const std::string expected = applyChanges(joinLinesWithCrLf(before.toStdString()), edit.changes);
  EXPECT_EQ(joinLinesWithCrLf(editorText(*editor).toStdString()), expected);
  // The one character of the step, where the editor has it.
  const int step = static_cast<int>(before.indexOf("s |--x-|")) + 6;
  ASSERT_EQ(touched.size(), 1u);
  EXPECT_EQ(touched[0][0], step);
  EXPECT_EQ(touched[0][1], 1);
  EXPECT_EQ(touched[0][2], 1);
  editor->undo();
  EXPECT_EQ(editorText(*editor), before);
  editor->redo();
  EXPECT_EQ(joinLinesWithCrLf(editorText(*editor).toStdString()), expected);

  // A change inside a character or between CR and LF, or past the end, changes nothing.
  const std::size_t clef = expected.find("\xF0");
  const std::size_t lineEnd = expected.find("\r\n");
  for (const TextChange& bad : {TextChange{clef + 1, 1, "x"}, TextChange{lineEnd + 1, 0, "x"},
                                TextChange{expected.size(), 1, ""}}) {
    EXPECT_FALSE(editor->applyTextChanges({bad}));
    EXPECT_EQ(joinLinesWithCrLf(editorText(*editor).toStdString()), expected);
  }
  // Several changes and a new line in one step.
  ASSERT_TRUE(editor->applyTextChanges(
      {TextChange{0, 4, "META"}, TextChange{lineEnd, 2, "\r\nh = closed hat\r\n"}}));
  EXPECT_TRUE(editorText(*editor).startsWith(
      QString::fromUtf8("META title = Caf\u00e9 \U0001D11E groove\nh = closed hat\nk = kick")));
  editor->undo();
  EXPECT_EQ(joinLinesWithCrLf(editorText(*editor).toStdString()), expected);
}

}  // namespace
}  // namespace pulsewright
