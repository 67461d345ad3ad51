#include "about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "app_icon.h"
#include "dialog_units.h"

namespace quelt {

AboutDlg::AboutDlg(QWidget* owner) : QDialog(owner) {
  setWindowTitle("About Quelt Flasher USB");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(DialogSize(211, 45));

  auto* icon = new QLabel(this);
  icon->setGeometry(DialogRect(13, 10, 20, 20));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  icon->setPixmap(ApplicationIcon().pixmap(32, 32));

  auto* text = new QLabel("Quelt Flasher USB 1.0", this);
  text->setTextFormat(Qt::PlainText);
  text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  text->setGeometry(DialogRect(44, 12, 78, 8));

  auto* ok = new QPushButton("OK", this);
  ok->setGeometry(DialogRect(145, 15, 50, 16));
  ok->setDefault(true);
  ok->setFocus();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace quelt
