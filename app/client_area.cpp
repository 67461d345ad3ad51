#include "client_area.h"

#include "dialog_units.h"

namespace quelt {

ClientArea::ClientArea(QWidget* parent) : QWidget(parent) { setFixedSize(DialogSize(236, 94)); }

bool ClientArea::LoadLogo() { return true; }

void ClientArea::paintEvent(QPaintEvent* event) { QWidget::paintEvent(event); }

}  // namespace quelt
