// quelt-paint-preview OUT.png [RRGGBB]
// Paints the window's client area as the window does (the whole area, the logo loaded from the
// resources and masked at its pixel (2, 2)) over a button face, by default the window palette's,
// and writes it as a PNG.
#include <QGuiApplication>
#include <QPalette>
#include <cstdio>

#include "app/paint/skin.h"
#include "app/paint/templates.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: quelt-paint-preview OUT.png [RRGGBB]\n");
    return 1;
  }
  QGuiApplication app(argc, argv);
  QColor face = QGuiApplication::palette().color(QPalette::Window);
  if (argc == 3) face = QColor(QStringLiteral("#") + QString::fromLocal8Bit(argv[2]));
  if (!face.isValid()) {
    std::fprintf(stderr, "not a colour: %s\n", argv[2]);
    return 1;
  }

  quelt::Bitmap logo;
  quelt::Bitmap mask;
  if (!quelt::LoadBackground(logo, nullptr, quelt::IDB_BACKGROUND)) {
    std::fprintf(stderr, "the logo bitmap could not be loaded\n");
    return 1;
  }
  quelt::BuildMask(logo, mask, 0, 2, 2);

  const QSize size = quelt::kFlasherTemplate.ClientPixels();
  QImage client(size, QImage::Format_RGB32);
  client.fill(Qt::magenta);  // anything the paint misses shows
  quelt::PaintLogo(client, {0, 0, size.width(), size.height()}, quelt::FromQColor(face), logo,
                   mask);
  if (!client.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
