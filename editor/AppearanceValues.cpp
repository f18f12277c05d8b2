#include "editor/AppearanceValues.h"

#include <QLocale>
#include <cmath>
#include <cstdint>

namespace pulsewright {

QString colorToStoredText(const QColor& color) {
  const QColor rgb = color.toRgb();
  const std::uint32_t value = static_cast<std::uint32_t>(rgb.red()) |
                              static_cast<std::uint32_t>(rgb.green()) << 8 |
                              static_cast<std::uint32_t>(rgb.blue()) << 16;
  return QString::number(static_cast<std::int32_t>(value));
}

std::optional<QColor> colorFromStoredText(const QString& text) {
  bool ok = false;
  const qlonglong value = text.trimmed().toLongLong(&ok);
  // Values with bits above the 24 colour bits name system colours or are no colour.
  if (!ok || value < 0 || value > 0xFFFFFF) return std::nullopt;
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

QString fontSizeToStoredText(double points) {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  QString text = locale.toString(points, 'f', 4);
  const QString separator = locale.decimalPoint();
  if (text.contains(separator)) {
    while (text.endsWith(locale.zeroDigit())) text.chop(1);
    if (text.endsWith(separator)) text.chop(separator.size());
  }
  return text;
}

double roundHalfToEven(double value) {
  const double below = std::floor(value);
  const double fraction = value - below;
  if (fraction > 0.5) return below + 1;
  if (fraction < 0.5) return below;
  return std::fmod(below, 2.0) == 0.0 ? below : below + 1;
}

std::optional<int> fontSizeFromStoredText(const QString& text) {
  bool ok = false;
  double points = QLocale().toDouble(text.trimmed(), &ok);
  if (!ok) points = QLocale::c().toDouble(text.trimmed(), &ok);
  if (!ok || !std::isfinite(points)) return std::nullopt;
  const double rounded = roundHalfToEven(points);
  if (rounded < 1 || rounded > kLargestFontSize) return std::nullopt;
  return static_cast<int>(rounded);
}

}  // namespace pulsewright
