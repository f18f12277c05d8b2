#include "app/DocumentImport.h"

#include <QFileInfo>
#include <QStringList>

#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "editor/ProblemsPanel.h"
#include "files/FileAccess.h"
#include "midifile/MidiImport.h"
#include "midifile/StandardMidiFileReader.h"
#include "platform/qt/UserDialogs.h"
#include "tabimport/DrumTabImport.h"

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
  const QString path = dialogs_.openFileName(window_);
  if (!path.isEmpty()) importFile(path);
}

bool DocumentImport::importFile(const QString& path) {
  QByteArray bytes;
  const QString failure = readRegularFile(path, kMaxImportBytes, &bytes);
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
    const MidiImportResult result = importMidiFile(data);
    if (!result.ok()) {
      dialogs_.message(window_, tr("Cannot import \"%1\": %2.")
                                    .arg(file.fileName(), QString::fromStdString(result.error)));
      return false;
    }
    document = result.document;
    for (const std::string& w : result.warnings) {
      warnings << QString::fromStdString(name + ": warning: " + w);
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
