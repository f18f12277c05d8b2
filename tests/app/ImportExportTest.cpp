#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextDocument>
#include <chrono>
#include <cmath>

#include "app/TransportBar.h"
#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "editor/ProblemsPanel.h"
#include "notation/ui/StaffPanel.h"
#include "notation/ui/StaffView.h"
#include "tests/app/AppFixture.h"
#include "tests/midifile/MidiFileReader.h"
#include "tests/midifile/MidiFileWriter.h"
#include "tests/support/CliRun.h"

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
  EXPECT_EQ(f.dialogs.importCaptions, QStringList{"Import Drum Tab"});
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

TEST(ImportMidi, OpensTheFileAsANewDocumentNamedAfterItWarningsInTheProblemsList) {
  AppFixture f;
  auto form = f.start();
  QTemporaryDir dir;
  test::TrackBuilder track;
  track.tempo(0, 120).note(0, 10, 36, 101).note(48, 10, 42, 76).note(0, 1, 60, 90);
  const std::string midi = test::midiFile(0, 96, {track.chunk(true)});
  const QString groove = writeFile(dir, "groove.mid", QByteArray::fromStdString(midi));
  f.dialogs.openFileNames = {groove};
  form->action("Import")->trigger();
  EXPECT_EQ(f.dialogs.importCaptions, QStringList{"Import"});
  const QString imported = form->Text1()->toPlainText();
  EXPECT_TRUE(
      imported.startsWith("k = Bass Drum\nh = Closed Hat\n\npart = A tempo = 120 notes = 8"))
      << imported.toStdString();
  EXPECT_EQ(form->editor().documents().currentFileName(), "");
  EXPECT_EQ(form->windowTitle(), "groove* - Pulsewright!");
  const QString warning = "groove.mid: warning: 1 note on other channels left out (channel 1: 1)";
  EXPECT_EQ(form->problems()->importWarnings(), QStringList{warning});
  const int rows = form->problems()->topLevelItemCount();
  ASSERT_GE(rows, 1);
  EXPECT_EQ(form->problems()->topLevelItem(rows - 1)->text(3), warning);
  ASSERT_EQ(f.dialogs.messages.size(), 1);
  EXPECT_TRUE(f.dialogs.messages[0].contains(warning));

  // A broken file says what is wrong and changes nothing.
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Discard};
  f.dialogs.openFileNames = {
      writeFile(dir, "broken.mid", QByteArray::fromStdString(midi.substr(0, 30)))};
  form->action("Import")->trigger();
  EXPECT_TRUE(f.dialogs.messages.last().contains("\"broken.mid\": the chunk at byte 14 claims"))
      << f.dialogs.messages.last().toStdString();
  EXPECT_EQ(form->Text1()->toPlainText(), imported);
  EXPECT_EQ(form->problems()->importWarnings(), QStringList{warning});

  // Noise under a MIDI name is refused by name, not imported as a tab of noise.
  QByteArray noise;
  for (int i = 0; i < 600; ++i) noise += static_cast<char>((i * 37 + 11) % 251);
  noise += "\nHH|x-x-x-x-|\n";
  for (const char* name : {"noise.mid", "noise.RMI"}) {
    f.dialogs.saveChoices = {UserDialogs::SaveChoice::Discard};
    f.dialogs.openFileNames = {writeFile(dir, name, noise)};
    form->action("Import")->trigger();
    EXPECT_TRUE(
        f.dialogs.messages.last().contains(QString("\"%1\": not a Standard MIDI File").arg(name)))
        << f.dialogs.messages.last().toStdString();
    EXPECT_EQ(form->Text1()->toPlainText(), imported);
  }

  // Drums on another channel: the window asks which; Cancel changes nothing.
  test::TrackBuilder elsewhere;
  elsewhere.note(0, 3, 38, 101).note(96, 5, 60, 70);
  const QString other = writeFile(
      dir, "other.mid", QByteArray::fromStdString(test::midiFile(0, 96, {elsewhere.chunk(true)})));
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Discard};
  f.dialogs.openFileNames = {other};
  form->action("Import")->trigger();
  ASSERT_FALSE(f.dialogs.numberQuestions.isEmpty());
  EXPECT_TRUE(f.dialogs.numberQuestions.last().contains("no notes on channel 10"));
  EXPECT_EQ(form->Text1()->toPlainText(), imported);
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Discard};
  f.dialogs.openFileNames = {other};
  f.dialogs.numbers = {3};
  form->action("Import")->trigger();
  EXPECT_TRUE(form->Text1()->toPlainText().startsWith("s = Snare Drum\n"));
  EXPECT_EQ(form->windowTitle(), "other* - Pulsewright!");

  // Open offers a MIDI file to the importer; New clears the warnings; a binary file is
  // refused and leaves the text as it was.
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Discard, UserDialogs::SaveChoice::Discard};
  form->action("New")->trigger();
  EXPECT_TRUE(form->problems()->importWarnings().isEmpty());
  form->Text1()->setPlainText("k = kick\n");
  f.dialogs.openFileNames = {groove};
  f.dialogs.yesNoAnswers = {true};
  form->action("Open")->trigger();
  ASSERT_FALSE(f.dialogs.yesNoQuestions.isEmpty());
  EXPECT_TRUE(f.dialogs.yesNoQuestions.last().contains("\"groove.mid\" is a MIDI file"));
  EXPECT_EQ(form->Text1()->toPlainText(), imported);
  EXPECT_EQ(form->windowTitle(), "groove* - Pulsewright!");
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Discard};
  f.dialogs.openFileNames = {
      writeFile(dir, "image.png", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16))};
  form->action("Open")->trigger();
  EXPECT_TRUE(f.dialogs.messages.last().contains("binary data"))
      << f.dialogs.messages.last().toStdString();
  EXPECT_EQ(form->Text1()->toPlainText(), imported);
}

// Edit > Paste as Drum Tab: the clipboard's tab becomes a new document; text that is no
// tab, or no text, is refused before the document is touched.
TEST(ImportDrumTab, PastesTheClipboardsTabAsANewDocument) {
  AppFixture f;
  auto form = f.start();
  form->Text1()->setPlainText("k = kick\n");
  form->Text1()->document()->setModified(true);
  QClipboard* clipboard = QGuiApplication::clipboard();
  for (const QString& notATab : {QString("just words\nHH = hats\n"), QString()}) {
    clipboard->setText(notATab);
    form->action("PasteDrumTab")->trigger();
    EXPECT_EQ(form->Text1()->toPlainText(), "k = kick\n");
    EXPECT_TRUE(f.dialogs.saveQuestions.isEmpty());
  }
  ASSERT_EQ(f.dialogs.messages.size(), 2);
  EXPECT_TRUE(f.dialogs.messages[0].contains("no drum tab lines found"));
  EXPECT_TRUE(f.dialogs.messages[1].contains("no text"));

  // A tab: the changed text is offered for saving first, and Cancel keeps it.
  clipboard->setText("SD|x-x-|x-?-|\n");
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Cancel};
  form->action("PasteDrumTab")->trigger();
  EXPECT_EQ(form->Text1()->toPlainText(), "k = kick\n");
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Discard};
  form->action("PasteDrumTab")->trigger();
  EXPECT_EQ(form->Text1()->toPlainText(),
            "s = snare\n\npart = A tempo = 120 notes = 4\ns |x-x-|x---|\n\nsong = A\n");
  EXPECT_EQ(form->editor().documents().currentFileName(), "");
  EXPECT_TRUE(f.dialogs.messages.last().contains("clipboard:1:11: warning:"))
      << f.dialogs.messages.last().toStdString();
}

// A GrooveScribe link on the clipboard pastes as its groove; File > Copy GrooveScribe
// Link puts the first part's link back, and a broken link changes nothing.
TEST(ImportDrumTab, PastesAGrooveScribeLinkAndCopiesTheLinkBack) {
  AppFixture f;
  auto form = f.start();
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText("?TimeSig=4/4&Div=7&H=|x-x-|");
  form->action("PasteDrumTab")->trigger();
  EXPECT_EQ(form->Text1()->toPlainText(), "");
  ASSERT_FALSE(f.dialogs.messages.isEmpty());
  EXPECT_TRUE(f.dialogs.messages.last().contains("Div=7 is no note size"))
      << f.dialogs.messages.last().toStdString();

  const QString link =
      "https://www.mikeslessons.com/groove/?TimeSig=4/4&Div=8&Tempo=90&Measures=1"
      "&H=|x-x-x-x-|&S=|--O---O-|&K=|o---o---|";
  clipboard->setText(link);
  form->action("PasteDrumTab")->trigger();
  EXPECT_EQ(form->Text1()->toPlainText(),
            "k = Bass Drum\ns = Snare Drum\nh = Closed Hat\n\npart = A tempo = 90 notes = 8\n"
            "h |x-x-x-x-|\ns |--X---X-|\nk |x---x---|\n\nsong = A\n");
  clipboard->clear();
  const auto shown = f.dialogs.messages.size();
  form->action("CopyGrooveScribeLink")->trigger();
  EXPECT_EQ(clipboard->text().toStdString(), link.toStdString());
  EXPECT_EQ(f.dialogs.messages.size(), shown) << f.dialogs.messages.last().toStdString();
}

// File > Import reads the shared formats as the command line does, by ending and bytes:
// a link saved in a file, and a MusicXML score that is not well-formed is refused.
TEST(ImportDrumTab, ImportReadsLinksAndScoresAndRefusesABrokenOne) {
  AppFixture f;
  auto form = f.start();
  QTemporaryDir dir;
  f.dialogs.openFileNames = {
      writeFile(dir, "lesson.url",
                "https://www.mikeslessons.com/groove/?TimeSig=4/4&Div=8&Tempo=90&Measures=1"
                "&H=|xxxxxxxx|&S=|--O---O-|&K=|o---o---|\n")};
  form->action("Import")->trigger();
  const QString imported = form->Text1()->toPlainText();
  EXPECT_TRUE(imported.contains("part = A tempo = 90 notes = 8\nh |xxxxxxxx|\ns |--X---X-|\n"))
      << imported.toStdString();
  EXPECT_EQ(form->windowTitle(), "lesson* - Pulsewright!");

  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Discard};
  f.dialogs.openFileNames = {
      writeFile(dir, "broken.musicxml", "<?xml version=\"1.0\"?><score-partwise><part-list>")};
  form->action("Import")->trigger();
  ASSERT_FALSE(f.dialogs.messages.isEmpty());
  EXPECT_TRUE(
      f.dialogs.messages.last().startsWith("Cannot import \"broken.musicxml\": not well-formed"))
      << f.dialogs.messages.last().toStdString();
  EXPECT_EQ(form->Text1()->toPlainText(), imported);
}

TEST(ExportMidi, WritesTheEditorsSongOnTheChosenChannel) {
  AppFixture f;
  auto form = f.start();
  QTemporaryDir dir;
  form->editor().documents().openUnsaved(
      "meta title = Two steps\nk = kick\nw = wave /nowhere/clap.wav pan 0\n"
      "part = A tempo = 120 notes = 8 program = 3\nk |xX|\nw |-x|\nsong = AA\n");
  const QString path = dir.filePath("song.mid");
  // A cancelled channel question writes nothing.
  f.dialogs.exportFileNames = {path};
  form->action("ExportMidi")->trigger();
  EXPECT_FALSE(QFile::exists(path));

  f.dialogs.exportFileNames = {path};
  f.dialogs.numbers = {3};
  form->action("ExportMidi")->trigger();
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  const test::ReadFile read = test::readMidiFile(std::string_view(bytes.constData(), bytes.size()));
  std::vector<std::tuple<std::int64_t, int, int, int>> drums;
  std::string title;
  for (const test::ReadEvent& e : read.events) {
    if (e.track == 1 && e.status != 0xFF) drums.emplace_back(e.tick, e.status, e.data1, e.data2);
    if (e.track == 0 && e.status == 0xFF && e.data1 == 0x03) title = e.text;
  }
  EXPECT_EQ(title, "Two steps");
  // One program change, four kicks of an eighth each, their note offs a sixteenth later.
  using E = std::tuple<std::int64_t, int, int, int>;
  EXPECT_EQ(drums,
            (std::vector<E>{E{0, 0xC2, 3, 0}, E{0, 0x92, 36, 76}, E{240, 0x82, 36, 0},
                            E{480, 0x92, 36, 101}, E{720, 0x82, 36, 0}, E{960, 0x92, 36, 76},
                            E{1200, 0x82, 36, 0}, E{1440, 0x92, 36, 101}, E{1680, 0x82, 36, 0}}));
  ASSERT_FALSE(f.dialogs.messages.isEmpty());
  EXPECT_TRUE(f.dialogs.messages.last().startsWith("2 sample hit"))
      << f.dialogs.messages.last().toStdString();

  // Every export offers the document's own name and folder; a new document offers none.
  EXPECT_EQ(f.dialogs.exportSuggestions.last(), "");
  const QString saved = writeFile(dir, "groove.v2.tab", "k = kick\n");
  ASSERT_TRUE(form->editor().documents().openFile(saved));
  for (const char* name : {"ExportMidi", "ExportAudio", "ExportPdf"}) form->action(name)->trigger();
  EXPECT_EQ(f.dialogs.exportSuggestions.mid(2),
            (QStringList{dir.filePath("groove.v2.mid"), dir.filePath("groove.v2.wav"),
                         dir.filePath("groove.v2.pdf")}));
}

// Export MIDI in the window and `pulsewright-cli export` write the same file.
TEST(ExportMidi, TheWindowAndTheCommandLineWriteTheSameBytes) {
  AppFixture f;
  auto form = f.start();
  QTemporaryDir dir;
  const QString document =
      writeFile(dir, "same.tab",
                "meta title = Same\nk = kick\ns = snare\nw = wave /nowhere/clap.wav\n"
                "part = A tempo = 96 notes = 8 program = 3\nk |x-x-5-x-|\ns |-X-x-9--|\n"
                "w |--x-----|\npart = B tempo = 140 notes = 16\nk |x---x---|\nsong = ABA\n");
  ASSERT_TRUE(form->editor().documents().openFile(document));
  f.dialogs.exportFileNames = {dir.filePath("window.mid")};
  f.dialogs.numbers = {7};
  form->action("ExportMidi")->trigger();
  const test::CliRun run = test::cli({"export", document.toStdString(), "-o",
                                      dir.filePath("cli.mid").toStdString(), "--channel", "7"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto bytes = [&](const char* name) {
    QFile file(dir.filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  };
  EXPECT_FALSE(bytes("window.mid").isEmpty());
  EXPECT_EQ(bytes("window.mid"), bytes("cli.mid"));
}

// What a file holds, or empty.
QByteArray fileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether `bytes` hold `text` in ASCII or in UTF-16 (a PDF's document name).
bool holds(const QByteArray& bytes, const QString& text) {
  QByteArray wide;
  for (QChar c : text) wide.append('\0').append(static_cast<char>(c.unicode()));
  return bytes.contains(text.toLatin1()) || bytes.contains(wide);
}

// A title and a tapped tempo belong to the document they were given to: the next one
// exports, engraves and plays with its own.
TEST(DocumentState, AnotherDocumentsTitleAndTempoDoNotCarryOver) {
  AppFixture f;
  auto form = f.start();
  QTemporaryDir dir;
  form->editor().documents().openUnsaved(
      "meta title = Rock groove\nk = kick\npart = A tempo = 112 notes = 4\nk |x---|\nsong = A\n");
  EXPECT_EQ(form->transportBar()->tempo()->value(), 112);
  form->Play_Click();
  ASSERT_TRUE(waitFor([&] { return !form->isPlaying(); }));
  EXPECT_EQ(form->staff()->view()->score().title, "Rock groove");
  f.dialogs.exportFileNames = {dir.filePath("first.musicxml"), dir.filePath("first.pdf")};
  form->action("ExportMusicXml")->trigger();
  form->action("ExportStavesPdf")->trigger();
  ASSERT_TRUE(holds(fileBytes(dir.filePath("first.musicxml")), "Rock groove"));
  ASSERT_TRUE(holds(fileBytes(dir.filePath("first.pdf")), "Rock groove"));
  const auto t0 = std::chrono::steady_clock::now();
  form->transportBar()->tapAt(t0);
  form->setTempoScale(0.77);  // as a tapped 86 bpm gives

  // A pasted tab with no title, written at 60 bpm.
  QGuiApplication::clipboard()->setText("60 bpm\nSD|x-x-|\n");
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Discard};
  form->action("PasteDrumTab")->trigger();
  ASSERT_TRUE(form->Text1()->toPlainText().contains("tempo = 60"))
      << form->Text1()->toPlainText().toStdString();
  EXPECT_DOUBLE_EQ(form->tempoScale(), 1.0);
  EXPECT_EQ(form->transportBar()->tempo()->value(), 60);
  // A tap for the document before does not count with one for this one.
  form->transportBar()->tapAt(t0 + std::chrono::milliseconds(500));
  EXPECT_DOUBLE_EQ(form->tempoScale(), 1.0);
  EXPECT_EQ(form->transportBar()->tempo()->value(), 60);

  form->Play_Click();
  ASSERT_TRUE(waitFor([&] { return !form->isPlaying(); }));
  EXPECT_EQ(form->staff()->view()->score().title, "");
  f.dialogs.exportFileNames = {dir.filePath("second.mid"), dir.filePath("second.musicxml"),
                               dir.filePath("second.pdf")};
  f.dialogs.numbers = {10};
  form->action("ExportMidi")->trigger();
  form->action("ExportMusicXml")->trigger();
  form->action("ExportStavesPdf")->trigger();
  for (const char* name : {"second.mid", "second.musicxml", "second.pdf"}) {
    const QByteArray bytes = fileBytes(dir.filePath(name));
    EXPECT_FALSE(bytes.isEmpty()) << name;
    EXPECT_FALSE(holds(bytes, "Rock groove")) << name;
  }
}

// The peak of a 16-bit WAVE file the export wrote, as a share of full scale.
double wavePeak(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return -1;
  const QByteArray bytes = file.readAll();
  const qsizetype data = bytes.indexOf("data");
  if (data < 0) return -1;
  int peak = 0;
  for (qsizetype i = data + 8; i + 1 < bytes.size(); i += 2) {
    const auto v = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                             static_cast<std::uint8_t>(bytes[i + 1]) << 8);
    peak = std::max(peak, std::abs(static_cast<int>(v)));
  }
  return peak / 32768.0;
}

TEST(Exports, NeverWriteOverTheOpenDocumentAndSetTheAudioLevel) {
  AppFixture f;
  auto form = f.start();
  QTemporaryDir dir;
  const QByteArray text =
      "k = kick\ns = snare\npart = A tempo = 150 notes = 8\nk |x-x-|\ns |-X-x|\nsong = AA\n";
  const QString document = writeFile(dir, "groove.tab", text);
  ASSERT_TRUE(form->editor().documents().openFile(document));
  auto documentBytes = [&] {
    QFile file(document);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
  };

  f.dialogs.exportFileNames = {document};
  f.dialogs.numbers = {10};
  form->action("ExportMidi")->trigger();
  ASSERT_FALSE(f.dialogs.messages.isEmpty());
  EXPECT_TRUE(f.dialogs.messages.last().contains("it is the input"))
      << f.dialogs.messages.last().toStdString();
  f.dialogs.exportFileNames = {document};
  form->action("ExportPdf")->trigger();
  EXPECT_TRUE(f.dialogs.messages.last().contains("it is the input"))
      << f.dialogs.messages.last().toStdString();
  // Through a link named as audio: still the document.
  ASSERT_TRUE(QFile::link(document, dir.filePath("link.wav")));
  f.dialogs.exportFileNames = {dir.filePath("link.wav")};
  f.dialogs.items = {0};
  form->action("ExportAudio")->trigger();
  ASSERT_TRUE(waitFor([&] { return form->Label1()->text().contains("it is the input"); }, 20000))
      << form->Label1()->text().toStdString();
  EXPECT_EQ(documentBytes(), text);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"groove.tab", "link.wav"}));

  // Normalised: the loudest peak at -1 dBFS, asked after the file; Cancel writes nothing.
  f.dialogs.exportFileNames = {dir.filePath("cancelled.wav")};
  form->action("ExportAudio")->trigger();
  EXPECT_EQ(f.dialogs.itemQuestions.size(), 2);
  f.dialogs.exportFileNames = {dir.filePath("normal.wav")};
  f.dialogs.items = {1};
  form->action("ExportAudio")->trigger();
  ASSERT_TRUE(waitFor([&] { return form->Label1()->text().startsWith("Exported"); }, 20000))
      << form->Label1()->text().toStdString();
  EXPECT_NEAR(20 * std::log10(wavePeak(dir.filePath("normal.wav"))), -1.0, 0.02);
  // As played, and 6 dB softer than that.
  f.dialogs.exportFileNames = {dir.filePath("plain.wav")};
  f.dialogs.items = {0};
  form->action("ExportAudio")->trigger();
  ASSERT_TRUE(waitFor([&] { return form->Label1()->text().contains("plain.wav"); }, 20000));
  f.dialogs.exportFileNames = {dir.filePath("gain.wav")};
  f.dialogs.items = {2};
  f.dialogs.numbers = {-6};
  form->action("ExportAudio")->trigger();
  ASSERT_TRUE(waitFor([&] { return form->Label1()->text().contains("gain.wav"); }, 20000));
  EXPECT_NEAR(wavePeak(dir.filePath("gain.wav")) / wavePeak(dir.filePath("plain.wav")), 0.501,
              0.005);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
            (QStringList{"gain.wav", "groove.tab", "link.wav", "normal.wav", "plain.wav"}));
}

}  // namespace
}  // namespace pulsewright
