#pragma once
// Completion of drum names in voice lines: on "SYMBOL = " followed by part of a name
// ("k = sna"), the voice names that hold what was typed. VoiceNameCompletion is the rule,
// free of widgets; VoiceNameCompleter shows its names in a popup under the text cursor.

#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

class QCompleter;
class QKeyEvent;
class QPlainTextEdit;

namespace pulsewright {

class VoiceNameCompletion {
 public:
  // The part of a drum name typed before the caret, and where it starts in the line.
  struct Typed {
    int start = 0;
    QString text;
  };

  // Every name a voice line accepts, longest forms included ("kick drum", "closed
  // hi-hat"), each once, in pad order.
  static const QStringList& names();
  // What is being typed at `column` of `line`, when the line reads "SYMBOL = " and then
  // only letters, digits, blanks and hyphens up to the caret, with nothing after it: at
  // least one letter, the symbol no keyword (meta, song, part, ...) and no sample.
  static std::optional<Typed> typedAt(const QString& line, int column);
  // The names that hold `typed`, in either case; those starting with it first.
  static QStringList candidates(const QString& typed);
};

// Offers the names in a popup while the user types a voice line in `editor`: the popup
// follows each key, Enter or Tab (or a click) puts the chosen name in place of what was
// typed, Escape closes it.
class VoiceNameCompleter : public QObject {
  Q_OBJECT
 public:
  explicit VoiceNameCompleter(QPlainTextEdit& editor);

  // For the editor's keyPressEvent: true when the popup takes this key, and the editor
  // must leave it alone. Enter after a name typed whole is the editor's (a new line).
  bool popupTakes(const QKeyEvent& event) const;
  // After the editor has handled a key: shows, updates or hides the popup.
  void keyHandled(const QKeyEvent& event);

  QCompleter* completer() const { return completer_; }
  bool popupVisible() const;
  // Puts `name` in place of the typed part of the name.
  void insertName(const QString& name);

 private:
  QPlainTextEdit& editor_;
  QCompleter* completer_;
};

}  // namespace pulsewright
