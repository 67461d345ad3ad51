// The face of the window's and the About box's controls. Their layout is in fixed pixels (the
// templates' dialog units mapped with fixed factors), so their text is too: a sans-serif face at
// a pixel size of 11, which is 8 points at 96 dots per inch, whatever the desktop's font or dots
// per inch. Liberation Sans (Debian's fonts-liberation2) first; DejaVu Sans Condensed
// (fonts-dejavu-extra) when it is missing. Every text of the templates fits its control in
// either; plain DejaVu Sans, a desktop's usual default, is too wide.
#pragma once

#include <QFont>

namespace quelt {

constexpr int kDialogFontPixels = 11;

QFont DialogFont();

}  // namespace quelt
