// The off-screen surface of one paint. Built over the paint context, it takes the paint's clip
// box, makes a buffer of just that box, and fills it with the paint context's background colour;
// drawing at the paint context's coordinates then lands in the buffer. Its destruction copies the
// buffer to the paint context in one transfer, so a paint reaches the window in one step.
//
//   PaintDC dc(client, update);
//   dc.SetBkColor(button_face);
//   {
//     OffscreenDC surface(&dc);
//     ... draw on surface ...
//   }  // the clip box is on dc now
#pragma once

#include "app/paint/bitmap.h"
#include "app/paint/dc.h"
#include "app/paint/raster_types.h"

namespace quelt {

class OffscreenDC : public DC {
 public:
  explicit OffscreenDC(DC* target);
  ~OffscreenDC() override;

  OffscreenDC(const OffscreenDC&) = delete;
  OffscreenDC& operator=(const OffscreenDC&) = delete;

 private:
  Bitmap m_bitmap;                // the buffer, the size of the area
  Bitmap* m_oldBitmap = nullptr;  // what the surface held before the buffer
  DC* m_pDC;                      // the context this surface stands in for
  RECT m_rect;                    // the area
};

}  // namespace quelt
