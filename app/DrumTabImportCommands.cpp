#include "app/DrumTabImportCommands.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QWidget>

#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "fileio/QtFileAccess.h"
#include "platform/qt/UserDialogs.h"
#include "tabimport/DrumTabImport.h"
#include "tabimport/GrooveScribe.h"

namespace pulsewright {

DrumTabImportCommands::DrumTabImportCommands(EditorCommands& editor, UserDialogs& dialogs,
                                             QWidget* window)
    : QObject(window), editor_(editor), dialogs_(dialogs), window_(window) {}

void DrumTabImportCommands::importFile() {
  if (!editor_.maybeSave()) return;
  const QString path = dialogs_.importFileName(window_, tr("Import Drum Tab"),
                                               tr("Text files (*.txt *.tab);;All files (*)"));
  if (path.isEmpty()) return;
  QByteArray bytes;
  const QString failure = readWholeFile(path, kMaxDocumentBytes, &bytes);
  if (!failure.isEmpty()) {
    dialogs_.message(window_, tr("Cannot open \"%1\": %2.").arg(path, failure));
    return;
  }
  open(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
       QFileInfo(path).fileName(), false);
}

void DrumTabImportCommands::pasteClipboard() {
  const QString text = QGuiApplication::clipboard()->text();
  if (text.trimmed().isEmpty()) {
    dialogs_.message(window_, tr("The clipboard holds no text to import as a drum tab."));
    return;
  }
  const QByteArray bytes = text.toUtf8();
  if (bytes.size() > kMaxDocumentBytes) {
    dialogs_.message(
        window_,
        tr("The clipboard text is larger than %1 MB: not imported.").arg(kMaxDocumentBytes >> 20));
    return;
  }
  open(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), tr("clipboard"),
       true);
}

bool DrumTabImportCommands::open(std::string_view bytes, const QString& name, bool askToSave) {
  TabImportResult result;
  if (looksLikeGrooveScribeLink(bytes)) {
    // A link shared by a teacher: read as its lanes say.
    GrooveScribeImport link = importGrooveScribeLink(bytes);
    if (!link.ok()) {
      dialogs_.message(
          window_,
          tr("\"%1\": %2: nothing was imported.").arg(name, QString::fromStdString(link.error)));
      return false;
    }
    result.found = true;
    result.document = std::move(link.document);
    result.warnings = std::move(link.warnings);
  } else {
    result = importDrumTab(bytes);
  }
  if (!result.found) {
    dialogs_.message(window_, tr("\"%1\": no drum tab lines found (lines such as "
                                 "\"HH|x-x-x-x-|\"): nothing was imported.")
                                  .arg(name));
    return false;
  }
  // The text is known to be a tab before the current document is put at stake.
  if (askToSave && !editor_.maybeSave()) return false;
  editor_.documents().openUnsaved(QString::fromStdString(result.document));
  if (result.warnings.empty()) return true;
  // The first warnings are enough to see what was read differently from the tab.
  constexpr std::size_t kShown = 15;
  QString text =
      tr("Imported with %n warning(s):", nullptr, static_cast<int>(result.warnings.size()));
  for (std::size_t i = 0; i < result.warnings.size() && i < kShown; ++i) {
    text += '\n' + QString::fromStdString(formatTabWarning(name.toStdString(), result.warnings[i]));
  }
  if (result.warnings.size() > kShown) text += "\n...";
  dialogs_.message(window_, text);
  return true;
}

}  // namespace pulsewright
