// The window's client area below the menu bar (354 x 153 px): it holds the controls and paints
// the logo at its right, the logo's key colour showing the window's face colour.
#pragma once

#include <QImage>
#include <QWidget>

#include "app/paint/bitmap.h"

namespace quelt {

class ClientArea : public QWidget {
  Q_OBJECT

 public:
  explicit ClientArea(QWidget* parent);
  // Loads logo bitmap `bitmap_id` and builds its mask (key colour: its pixel at 2, 2); false
  // when the logo cannot be loaded.
  bool LoadLogo(int bitmap_id);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Bitmap logo_;
  Bitmap mask_;
  QImage composed_;  // the client area as the paints have composed it
};

}  // namespace quelt
