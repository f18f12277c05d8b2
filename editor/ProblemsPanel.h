#pragma once
// The list of problems the editor found in the text, one row each (line, column, kind,
// text); a double-click or Enter on a row selects its place in the editor.

#include <QPointer>
#include <QTreeWidget>
#include <vector>

#include "tablature/Diagnostics.h"

namespace pulsewright {

class TablatureEditor;

class ProblemsPanel : public QTreeWidget {
  Q_OBJECT

 public:
  ProblemsPanel(TablatureEditor& editor, QWidget* parent = nullptr);
  // A few rows high, so the editor keeps most of the window.
  QSize sizeHint() const override;

  // Rows below the editor's own problems, kept until they are set again: what an import
  // had to say about the file it read ("groove.mid: warning: ...").
  void setImportWarnings(const QStringList& warnings);
  const QStringList& importWarnings() const { return importWarnings_; }
  // Rows after the editor's own problems, kept until they are set again: why the latest
  // edit made while the song plays is not played.
  void setNotPlayed(const std::vector<Diagnostic>& reasons);
  // Rows after those, kept until they are set again: what the drum kit played lacks or
  // left out.
  void setKitWarnings(const QStringList& warnings);
  const QStringList& kitWarnings() const { return kitWarnings_; }

 private:
  void refill();

  // The editor may go first when the window closes.
  QPointer<TablatureEditor> editor_;
  QStringList importWarnings_;
  std::vector<Diagnostic> notPlayed_;
  QStringList kitWarnings_;
};

}  // namespace pulsewright
