#pragma once
// How the editor's colours and font size are written to and read from the settings.

#include <QColor>
#include <QString>
#include <optional>

namespace pulsewright {

// A colour as the stored 0x00BBGGRR value in signed decimal text: white is "16777215",
// pure red "255".
QString colorToStoredText(const QColor& color);
// The colour of a stored value; nothing when the text is no whole number or the value is
// not a plain 0x00BBGGRR colour.
std::optional<QColor> colorFromStoredText(const QString& text);

// A font size in points as decimal text with at most four decimals, in the user's
// locale ("9.75", or "9,75" where the comma is the decimal separator).
QString fontSizeToStoredText(double points);
// A stored size rounded to whole points, halves to the even neighbour (9.75 gives 10,
// 8.5 gives 8); nothing when the text is no number or the size is not usable.
std::optional<int> fontSizeFromStoredText(const QString& text);

// Rounds to the nearest whole number, halves to the even neighbour.
double roundHalfToEven(double value);

inline constexpr int kLargestFontSize = 1000;

}  // namespace pulsewright
