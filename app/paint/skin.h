// The window's logo and its painting.
//
// How the window uses it:
//   construction   icon = LoadAppIcon(IDR_MAINFRAME); the window's icon, which the window
//                  manager also shows for the minimised window (nothing is painted then)
//   OnInitDialog   if (!LoadBackground(logo, nullptr, IDB_BACKGROUND)) { box; OnCancel(); }
//                  BuildMask(logo, mask, 0, 2, 2);
//   paint          the client widget's paintEvent composes into an RGB32 image of the client
//                  area and puts the update rectangle of it on screen in one draw:
//                    PaintLogo(image, update, FromQColor(palette().color(QPalette::Window)),
//                              logo, mask);
// Coordinates are client pixels; the logo covers x 220 to 351, y 0 to 126 (kLogoRect).
#pragma once

#include <QIcon>
#include <QImage>

#include "app/paint/bitmap.h"
#include "app/paint/dc.h"
#include "app/paint/raster_types.h"

namespace quelt {

// Where the logo is drawn, in client pixels: 132 by 127 from (220, 0).
constexpr RECT kLogoRect{220, 0, 352, 127};

// Fills bitmap with a bitmap picture: from the file at path, or without a path from the bitmap
// resource id (low 16 bits). Releases what bitmap held first, even when nothing is obtained.
// Nonzero when an image was obtained, 0 when not.
int LoadBackground(Bitmap& bitmap, const char* path, int id);

// Builds mask, monochrome and the size of image, with a set bit exactly where image has the key
// colour, and blackens those pixels of image. A key of 0 means the colour of image's pixel at
// (x, y); any other key is used as it stands and the position is ignored. Does nothing when
// image is empty.
void BuildMask(Bitmap& image, Bitmap& mask, COLORREF key, int x, int y);

// Draws the image selected into source at (xs, ys) onto target at (x, y), w by h, through mask:
// target pixels under set mask bits keep their colour, the others take the image's colour. The
// target's text colour must be black and its background colour the colour to keep (as on an
// OffscreenDC), and the image must be black at the set mask bits (as BuildMask leaves it).
void BlitMasked(DC& target, int x, int y, int w, int h, DC& source, int xs, int ys, Bitmap& mask);

// The paint of the window in its normal state: fills the update rectangle of client with
// button_face and draws logo through mask at kLogoRect, composed off screen and copied to client
// once. Pixels of client outside update are left alone. Without a logo or mask only the face
// is painted.
void PaintLogo(QImage& client, const RECT& update, COLORREF button_face, Bitmap& logo,
               Bitmap& mask);

// The application icon, resource id, in its 16, 32 and 48 pixel images. Needs a
// QGuiApplication. Null when there is no such icon.
QIcon LoadAppIcon(int id);

}  // namespace quelt
