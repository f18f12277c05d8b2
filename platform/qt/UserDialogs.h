#pragma once
// The modal questions the windows ask: message boxes and the platform's file, colour and
// font dialogs. One interface so that widget tests answer them without a person.

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace pulsewright {

inline constexpr char kApplicationTitle[] = "Pulsewright";
// The file types Save As offers.
inline constexpr char kDocumentFilter[] = "Drum tablature (*.tab);;All files (*)";

class UserDialogs {
 public:
  enum class SaveChoice { Save, Discard, Cancel };

  virtual ~UserDialogs() = default;
  // A modal box with one OK button and the application's title.
  virtual void message(QWidget* parent, const QString& text) = 0;
  // "Save", "Discard" or "Cancel" for text that has changed since it was last saved.
  virtual SaveChoice askToSaveChanges(QWidget* parent, const QString& text) = 0;
  // The chosen path; empty when the dialog was cancelled. Save offers kDocumentFilter.
  virtual QString openFileName(QWidget* parent) = 0;
  virtual QString saveFileName(QWidget* parent) = 0;
  // A file to read something other than a document from, asked under `caption` ("Import
  // Drum Tab") with `filter`; empty when the dialog was cancelled.
  virtual QString importFileName(QWidget* parent, const QString& caption,
                                 const QString& filter) = 0;
  // A file to write something other than the document to, asked under `caption` ("Export
  // MIDI") with `filter`, starting at `suggested` (a folder and name; empty for none).
  virtual QString exportFileName(QWidget* parent, const QString& caption, const QString& filter,
                                 const QString& suggested) = 0;
  // A question answered Yes (true) or No (false).
  virtual bool askYesNo(QWidget* parent, const QString& text) = 0;
  // The chosen colour or font (fixed-pitch fonts only); nothing when the dialog was
  // cancelled.
  virtual std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial) = 0;
  virtual std::optional<QFont> chooseFont(QWidget* parent, const QFont& initial) = 0;
  // A whole number from `minimum` to `maximum` asked with `label`; nothing on Cancel.
  virtual std::optional<int> chooseNumber(QWidget* parent, const QString& label, int initial,
                                          int minimum, int maximum) = 0;
  // One of `items` asked with `label`, `initial` chosen at first: its index; nothing on
  // Cancel.
  virtual std::optional<int> chooseItem(QWidget* parent, const QString& label,
                                        const QStringList& items, int initial) = 0;
};

}  // namespace pulsewright
