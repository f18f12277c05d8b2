#pragma once
// The song as a drum score from the window: File > Export MusicXML, and pages of drum
// staves for printing and PDF.

#include <QString>
#include <functional>
#include <string_view>

#include "notation/Score.h"
#include "tablature/CompiledDocument.h"

class QPrinter;
class QWidget;

namespace pulsewright {

class UserDialogs;

// Compiles the document's text (lines joined by CR LF) as Play would, so that what is
// written is what Play plays.
using DocumentCompiler = std::function<CompiledDocument(std::string_view text)>;

// Asks for a file name (offering `suggested`), writes the document's song there as
// MusicXML and says what went wrong or what was left out. False when nothing was written;
// else `written` (when not null) gets the file's path.
bool exportMusicXml(QWidget* parent, UserDialogs& dialogs, const QString& suggested,
                    const QString& documentText, const DocumentCompiler& compile,
                    QString* written = nullptr);

// File > Export PDF as Drum Staves: asks for a file name, then the song's staves as PDF
// pages. False when nothing was written; a message says why. `written` as above.
bool exportStavesPdf(QWidget* parent, UserDialogs& dialogs, const QString& suggested,
                     const QString& documentText, const DocumentCompiler& compile,
                     QString* written = nullptr);

// File > Print Drum Staves: the print dialog, always (it can print to a PDF file when no
// printer is found), then the song's staves on the printer chosen.
void printStavesWithDialog(QWidget* parent, UserDialogs& dialogs, const QString& documentText,
                           const DocumentCompiler& compile);

// The score as drum staves: the title, then systems across as many pages as they need.
// The same engraving as the staff view.
void printStaves(QPrinter& printer, const Score& score);

}  // namespace pulsewright
