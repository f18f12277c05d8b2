#include "editor/AppearanceCommands.h"

#include <QFontInfo>
#include <QPalette>
#include <QPlainTextEdit>
#include <utility>

#include "editor/AppearanceValues.h"
#include "platform/qt/UserDialogs.h"
#include "settings/SettingsStore.h"

namespace pulsewright {

namespace {

const QString kAppearanceSection = QString::fromLatin1(kLookAndFeelSection);

void setEditorColor(QPlainTextEdit& editor, QPalette::ColorRole role, const QColor& color) {
  QPalette palette = editor.palette();
  palette.setColor(role, color);  // every colour group, so it holds out of focus too
  editor.setPalette(palette);
}

}  // namespace

AppearanceCommands::AppearanceCommands(QPlainTextEdit* editor, QWidget* parentWindow,
                                       UserDialogs& dialogs, SettingsStore& settings,
                                       QObject* parent)
    : QObject(parent),
      editor_(editor),
      parentWindow_(parentWindow),
      dialogs_(dialogs),
      settings_(settings) {}

QString AppearanceCommands::fontFamily() const {
  return editor_->font().family();
}

void AppearanceCommands::foreground() {
  const auto chosen = dialogs_.chooseColor(parentWindow_, editor_->palette().color(QPalette::Text));
  if (!chosen) return;
  setEditorColor(*editor_, QPalette::Text, *chosen);
  storeAppearance();
}

void AppearanceCommands::background() {
  const auto chosen = dialogs_.chooseColor(parentWindow_, editor_->palette().color(QPalette::Base));
  if (!chosen) return;
  setEditorColor(*editor_, QPalette::Base, *chosen);
  storeAppearance();
}

void AppearanceCommands::chooseFont() {
  // The dialog gets the family actually in use: an asked-for family the system lacks
  // ("Courier") is one the dialog cannot find, and it would fall back to a proportional
  // one.
  QFont shown = editor_->font();
  shown.setFamily(QFontInfo(shown).family());
  const auto chosen = dialogs_.chooseFont(parentWindow_, shown);
  if (!chosen) return;
  // Family, size, bold and italic only: the face's style name ("Book", "Regular") would
  // win over the weight, and the bold marks of the highlighting would vanish.
  QFont font = editor_->font();
  font.setFamily(chosen->family());
  if (chosen->pointSizeF() > 0) {
    font.setPointSizeF(chosen->pointSizeF());
  } else if (chosen->pixelSize() > 0) {
    font.setPixelSize(chosen->pixelSize());
  }
  font.setBold(chosen->bold());
  font.setItalic(chosen->italic());
  editor_->setFont(font);
  storeAppearance();
}

void AppearanceCommands::storeAppearance() {
  const QFont font = editor_->font();
  double size = font.pointSizeF();
  if (size <= 0) size = QFontInfo(font).pointSizeF();  // a font sized in pixels
  const QPalette palette = editor_->palette();
  const std::pair<const char*, QString> values[] = {
      {"FontName", font.family()},
      {"FontSize", fontSizeToStoredText(size)},
      {"FontBold", font.bold() ? QStringLiteral("True") : QStringLiteral("False")},
      {"FontItalic", font.italic() ? QStringLiteral("True") : QStringLiteral("False")},
      {"BackColor", colorToStoredText(palette.color(QPalette::Base))},
      {"ForeColor", colorToStoredText(palette.color(QPalette::Text))},
  };
  bool stored = true;
  for (const auto& [key, value] : values) {
    stored = settings_.SaveSetting(kAppearanceSection, QString::fromLatin1(key), value) && stored;
  }
  if (!stored) {
    dialogs_.message(parentWindow_,
                     tr("The appearance could not be saved to the settings file; it holds "
                        "until the program ends."));
  }
}

void AppearanceCommands::applyStoredAppearance() {
  QFont font = editor_->font();
  // A fixed-pitch font, so that grids line up: a family the system lacks ("Courier",
  // the stored default) is stood in for by a fixed-pitch one, not the proportional
  // default.
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setFamily(settings_.GetSetting(kAppearanceSection, QStringLiteral("FontName"),
                                      QStringLiteral("Courier")));
  if (const auto size = fontSizeFromStoredText(settings_.GetSetting(
          kAppearanceSection, QStringLiteral("FontSize"), QStringLiteral("10")))) {
    font.setPointSize(*size);
  }
  font.setBold(settings_.GetSetting(kAppearanceSection, QStringLiteral("FontBold"), {}) ==
               QLatin1String("True"));
  font.setItalic(settings_.GetSetting(kAppearanceSection, QStringLiteral("FontItalic"), {}) ==
                 QLatin1String("True"));
  font.setStrikeOut(false);
  font.setUnderline(false);
  editor_->setFont(font);

  if (const auto color = colorFromStoredText(settings_.GetSetting(
          kAppearanceSection, QStringLiteral("ForeColor"), QStringLiteral("0")))) {
    setEditorColor(*editor_, QPalette::Text, *color);
  }
  if (const auto color = colorFromStoredText(settings_.GetSetting(
          kAppearanceSection, QStringLiteral("BackColor"), QStringLiteral("16777215")))) {
    setEditorColor(*editor_, QPalette::Base, *color);
  }
}

}  // namespace pulsewright
