// Dialog units of the window templates mapped to pixels with the fixed factors of "MS Shell Dlg"
// 8 pt at 96 DPI: 1 horizontal unit = 1.5 px, 1 vertical unit = 1.625 px, each value rounded
// on its own as the dialog manager does.
#pragma once

#include <QRect>
#include <QSize>

namespace quelt {

constexpr int DialogUnitsX(int units) { return (units * 6 + 2) / 4; }
constexpr int DialogUnitsY(int units) { return (units * 13 + 4) / 8; }

inline QRect DialogRect(int x, int y, int width, int height) {
  return QRect(DialogUnitsX(x), DialogUnitsY(y), DialogUnitsX(width), DialogUnitsY(height));
}
inline QSize DialogSize(int width, int height) {
  return QSize(DialogUnitsX(width), DialogUnitsY(height));
}

}  // namespace quelt
