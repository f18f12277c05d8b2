#pragma once
// Window layouts are designed in twips: 15 to a pixel at 96 dpi. Qt's device-independent
// pixels already follow the screen's scale, so one conversion serves every screen and
// every window; scaling by the screen's dots per inch as well would count it twice.

#include <QRect>
#include <QSize>
#include <QtMath>

namespace pulsewright::twips {

inline int toPixels(int twips) {
  return qRound(twips / 15.0);
}

inline QRect rect(int left, int top, int width, int height) {
  return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

inline QSize size(int width, int height) {
  return QSize(toPixels(width), toPixels(height));
}

}  // namespace pulsewright::twips
