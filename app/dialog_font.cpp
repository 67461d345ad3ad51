#include "app/dialog_font.h"

#include <QStringList>

namespace quelt {

QFont DialogFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans Condensed")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(kDialogFontPixels);
  return font;
}

}  // namespace quelt
