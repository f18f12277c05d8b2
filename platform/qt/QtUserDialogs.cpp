#include "platform/qt/QtUserDialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace pulsewright {

void QtUserDialogs::message(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kApplicationTitle), text,
                  QMessageBox::Ok, parent);
  box.exec();
}

UserDialogs::SaveChoice QtUserDialogs::askToSaveChanges(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, QString::fromLatin1(kApplicationTitle), text,
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
  box.setDefaultButton(QMessageBox::Save);
  box.setEscapeButton(QMessageBox::Cancel);
  switch (box.exec()) {
    case QMessageBox::Save: return SaveChoice::Save;
    case QMessageBox::Discard: return SaveChoice::Discard;
    default: return SaveChoice::Cancel;
  }
}

QString QtUserDialogs::openFileName(QWidget* parent) {
  return QFileDialog::getOpenFileName(parent);
}

QString QtUserDialogs::saveFileName(QWidget* parent) {
  return QFileDialog::getSaveFileName(parent, QString(), QString(),
                                      QString::fromLatin1(kDocumentFilter));
}

QString QtUserDialogs::importFileName(QWidget* parent, const QString& caption,
                                      const QString& filter) {
  return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QString QtUserDialogs::exportFileName(QWidget* parent, const QString& caption,
                                      const QString& filter, const QString& suggested) {
  return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
}

bool QtUserDialogs::askYesNo(QWidget* parent, const QString& text) {
  return QMessageBox::question(parent, QString::fromLatin1(kApplicationTitle), text,
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

std::optional<QColor> QtUserDialogs::chooseColor(QWidget* parent, const QColor& initial) {
  const QColor chosen = QColorDialog::getColor(initial, parent);
  if (!chosen.isValid()) return std::nullopt;
  return chosen;
}

std::optional<int> QtUserDialogs::chooseItem(QWidget* parent, const QString& label,
                                             const QStringList& items, int initial) {
  bool ok = false;
  const QString chosen = QInputDialog::getItem(parent, QString::fromLatin1(kApplicationTitle),
                                               label, items, initial, false, &ok);
  if (!ok) return std::nullopt;
  return static_cast<int>(items.indexOf(chosen));
}

std::optional<QFont> QtUserDialogs::chooseFont(QWidget* parent, const QFont& initial) {
  bool ok = false;
  // Grids line up only in a font whose characters are all as wide.
  const QFont chosen =
      QFontDialog::getFont(&ok, initial, parent, QString(), QFontDialog::MonospacedFonts);
  if (!ok) return std::nullopt;
  return chosen;
}

std::optional<int> QtUserDialogs::chooseNumber(QWidget* parent, const QString& label, int initial,
                                               int minimum, int maximum) {
  bool ok = false;
  const int chosen = QInputDialog::getInt(parent, QString::fromLatin1(kApplicationTitle), label,
                                          initial, minimum, maximum, 1, &ok);
  if (!ok) return std::nullopt;
  return chosen;
}

}  // namespace pulsewright
