#pragma once
// The song as a drum score from the window: File > Export MusicXML, and pages of drum
// staves for printing and PDF.

#include <QString>

#include "notation/Score.h"
#include "padmap/PadMap.h"

class QPrinter;
class QWidget;

namespace pulsewright {

class UserDialogs;

// Asks for a file name (offering `suggested`), writes the document's song there as
// MusicXML and says what went wrong or what was left out. False when nothing was written.
bool exportMusicXml(QWidget* parent, UserDialogs& dialogs, const QString& suggested,
                    const QString& documentText, const PadMap& padMap);

// The score as drum staves: the title, then systems across as many pages as they need.
// The same engraving as the staff view.
void printStaves(QPrinter& printer, const Score& score);

}  // namespace pulsewright
