// The window's client area below the menu bar: 354 x 153 px holding the controls, with the logo
// painted at its right.
#pragma once

#include <QWidget>

namespace quelt {

class ClientArea : public QWidget {
  Q_OBJECT

 public:
  explicit ClientArea(QWidget* parent);
  // Loads the logo and builds its mask; false when the logo cannot be loaded.
  bool LoadLogo();

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quelt
