#include "editor/ProblemsPanel.h"

#include <QHeaderView>

#include "editor/TablatureEditor.h"

namespace pulsewright {

ProblemsPanel::ProblemsPanel(TablatureEditor& editor, QWidget* parent)
    : QTreeWidget(parent), editor_(&editor) {
  setObjectName(QStringLiteral("Problems"));
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setAlternatingRowColors(true);
  setHeaderLabels({tr("Line"), tr("Column"), tr("Kind"), tr("Problem")});
  header()->setStretchLastSection(true);
  connect(&editor, &TablatureEditor::diagnosticsChanged, this, &ProblemsPanel::refill);
  connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    const int row = indexOfTopLevelItem(item);
    if (!editor_) return;
    const auto& found = editor_->diagnostics();
    if (row >= 0 && static_cast<std::size_t>(row) < found.size()) {
      editor_->goToDiagnostic(found[static_cast<std::size_t>(row)]);
    }
  });
  refill();
}

void ProblemsPanel::setImportWarnings(const QStringList& warnings) {
  importWarnings_ = warnings;
  refill();
}

void ProblemsPanel::setNotPlayed(const std::vector<Diagnostic>& reasons) {
  notPlayed_ = reasons;
  refill();
}

void ProblemsPanel::setKitWarnings(const QStringList& warnings) {
  if (warnings == kitWarnings_) return;
  kitWarnings_ = warnings;
  refill();
}

QSize ProblemsPanel::sizeHint() const {
  const int row = fontMetrics().height() + 4;
  return {QTreeWidget::sizeHint().width(),
          header()->sizeHint().height() + 4 * row + 2 * frameWidth()};
}

void ProblemsPanel::refill() {
  if (!editor_) return;
  setUpdatesEnabled(false);
  clear();
  QList<QTreeWidgetItem*> rows;
  for (const Diagnostic& d : editor_->diagnostics()) {
    rows << new QTreeWidgetItem(
        QStringList{QString::number(d.line), QString::number(d.column),
                    d.severity == Severity::Error ? tr("error") : tr("warning"),
                    QString::fromStdString(d.text)});
  }
  if (!notPlayed_.empty()) {
    rows << new QTreeWidgetItem(
        QStringList{QString(), QString(), tr("not played"),
                    tr("the edit is not played: the song plays on as it was, because of:")});
  }
  for (const Diagnostic& d : notPlayed_) {
    rows << new QTreeWidgetItem(QStringList{d.line > 0 ? QString::number(d.line) : QString(),
                                            d.line > 0 ? QString::number(d.column) : QString(),
                                            tr("not played"), QString::fromStdString(d.text)});
  }
  for (const QString& w : importWarnings_) {
    rows << new QTreeWidgetItem(QStringList{QString(), QString(), tr("warning"), w});
  }
  for (const QString& w : kitWarnings_) {
    rows << new QTreeWidgetItem(QStringList{QString(), QString(), tr("warning"), w});
  }
  addTopLevelItems(rows);
  for (int c = 0; c < 3; ++c) resizeColumnToContents(c);
  setUpdatesEnabled(true);
}

}  // namespace pulsewright
