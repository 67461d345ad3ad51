#include "app/client_area.h"

#include <QPaintEvent>
#include <QPainter>

#include "app/paint/skin.h"
#include "app/paint/templates.h"

namespace quelt {

ClientArea::ClientArea(QWidget* parent)
    : QWidget(parent), composed_(kFlasherTemplate.ClientPixels(), QImage::Format_RGB32) {
  setFixedSize(kFlasherTemplate.ClientPixels());
  // Every pixel comes from the composed image: nothing to erase first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

bool ClientArea::LoadLogo(int bitmap_id) {
  if (!LoadBackground(logo_, nullptr, bitmap_id)) return false;
  BuildMask(logo_, mask_, 0, 2, 2);
  return true;
}

void ClientArea::paintEvent(QPaintEvent* event) {
  const QRect update = event->rect() & rect();
  if (update.isEmpty()) return;
  const RECT box{update.left(), update.top(), update.right() + 1, update.bottom() + 1};
  PaintLogo(composed_, box, FromQColor(palette().color(QPalette::Window)), logo_, mask_);
  // Face and logo reach the screen in one draw.
  QPainter painter(this);
  painter.drawImage(update.topLeft(), composed_, update);
}

}  // namespace quelt
