#include "app/DocumentImport.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <optional>

#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "editor/ProblemsPanel.h"
#include "fileio/OutputFile.h"
#include "fileio/QtFileAccess.h"
#include "midifile/MidiImport.h"
#include "midifile/StandardMidiFileReader.h"
#include "platform/qt/UserDialogs.h"
#include "tabimport/DrumTabImport.h"
#include "tabimport/ForeignImport.h"

namespace pulsewright {

namespace {

// MIDI files of long songs are larger than any document.
constexpr qint64 kMaxImportBytes = qint64{64} << 20;
// The first warnings are enough to see what was read differently.
constexpr qsizetype kWarningsShown = 15;

}  // namespace

DocumentImport::DocumentImport(EditorCommands& editor, ProblemsPanel& problems,
                               UserDialogs& dialogs, QWidget* window)
    : QObject(window), editor_(editor), problems_(problems), dialogs_(dialogs), window_(window) {
  DocumentCommands& documents = editor_.documents();
  connect(&documents, &DocumentCommands::importRequested, this, &DocumentImport::importFile);
  // The warnings belong to the document they came with.
  connect(&documents, &DocumentCommands::documentReplaced, this,
          [this] { problems_.setImportWarnings({}); });
}

void DocumentImport::chooseAndImport() {
  if (!editor_.maybeSave()) return;
  const QString path = dialogs_.importFileName(
      window_, tr("Import"),
      tr("Drum files (*.mid *.midi *.kar *.rmi *.txt *.tab *.url *.h2song *.h2pattern *.musicxml "
         "*.xml *.mxl);;MIDI files and drum tabs (*.mid *.midi *.kar *.rmi *.txt *.tab);;"
         "GrooveScribe links, Hydrogen songs and MusicXML scores (*.url *.txt *.h2song "
         "*.h2pattern *.musicxml *.xml *.mxl);;All files (*)"));
  if (!path.isEmpty()) importFile(path);
}

bool DocumentImport::importFile(const QString& path) {
  QByteArray bytes;
  const QString failure = readWholeFile(path, kMaxImportBytes, &bytes);
  if (!failure.isEmpty()) {
    dialogs_.message(window_, tr("Cannot open \"%1\": %2.").arg(path, failure));
    return false;
  }
  const std::string_view data(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  const QFileInfo file(path);
  const std::string name = file.fileName().toStdString();
  std::string document;
  QStringList warnings;
  if (looksLikeMidiFile(data)) {
    MidiImportResult result = importMidiFile(data);
    const auto& counts = result.notesPerChannel;
    const auto busiest = std::max_element(counts.begin(), counts.end());
    if (!result.ok() && counts[9] == 0 && *busiest > 0) {
      // Some kits and programs record the drums on another channel.
      const std::optional<int> channel = dialogs_.chooseNumber(
          window_,
          tr("\"%1\" has no notes on channel 10, the drum channel. Which channel holds its "
             "drums?")
              .arg(file.fileName()),
          static_cast<int>(busiest - counts.begin()) + 1, 1, 16);
      if (!channel) return false;
      MidiImportOptions options;
      options.channel = *channel;
      result = importMidiFile(data, options);
    }
    if (!result.ok()) {
      dialogs_.message(window_, tr("Cannot import \"%1\": %2.")
                                    .arg(file.fileName(), QString::fromStdString(result.error)));
      return false;
    }
    document = result.document;
    for (const std::string& w : result.warnings) {
      warnings << QString::fromStdString(name) + QStringLiteral(": warning: ") +
                      QString::fromStdString(w);
    }
  } else if (hasMidiFileName(name)) {
    // Read as a tab, its bytes would come out as a part of noise.
    dialogs_.message(window_, tr("Cannot import \"%1\": not a Standard MIDI File (it does not "
                                 "start with MThd).")
                                  .arg(file.fileName()));
    return false;
  } else if (const ForeignFormat format =
                 foreignFormatOf(fileEnding(QFile::encodeName(path).toStdString()), data);
             format != ForeignFormat::kNone) {
    const ForeignImport result = importForeign(format, data);
    if (!result.ok()) {
      dialogs_.message(window_, tr("Cannot import \"%1\": %2.")
                                    .arg(file.fileName(), QString::fromStdString(result.error)));
      return false;
    }
    document = result.document;
    for (const TabWarning& w : result.warnings) {
      warnings << QString::fromStdString(formatTabWarning(name, w));
    }
  } else {
    const TabImportResult result = importDrumTab(data);
    if (!result.found) {
      dialogs_.message(window_, tr("\"%1\": no drum tab lines found.").arg(file.fileName()));
      return false;
    }
    document = result.document;
    for (const TabWarning& w : result.warnings) {
      warnings << QString::fromStdString(formatTabWarning(name, w));
    }
  }
  editor_.documents().openUnsaved(QString::fromStdString(document), file.completeBaseName());
  problems_.setImportWarnings(warnings);
  if (warnings.isEmpty()) return true;
  QString text = tr("Imported with %n warning(s):", nullptr, static_cast<int>(warnings.size()));
  for (qsizetype i = 0; i < warnings.size() && i < kWarningsShown; ++i) text += '\n' + warnings[i];
  if (warnings.size() > kWarningsShown) text += "\n...";
  dialogs_.message(window_, text);
  return true;
}

}  // namespace pulsewright
