#include "app/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/dialog_font.h"
#include "app/paint/skin.h"
#include "app/paint/templates.h"

namespace quelt {

AboutDlg::AboutDlg(QWidget* owner) : QDialog(owner) {
  setWindowTitle(QString::fromUtf8(kAboutTemplate.caption));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(kAboutTemplate.ClientPixels());
  // Modal to its owner only: a box without an owner stays usable beside it.
  setWindowModality(Qt::WindowModal);
  // A window of its own: it takes no font from the main window.
  setFont(DialogFont());

  for (const ControlTemplate& control : kAboutControls) {
    QWidget* widget = nullptr;
    switch (control.kind) {
      case ControlKind::Icon: {
        auto* icon = new QLabel(this);
        icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        icon->setPixmap(LoadAppIcon(control.icon).pixmap(kIconPixels, kIconPixels));
        widget = icon;
        break;
      }
      case ControlKind::PushButton: {
        auto* button = new QPushButton(QString::fromUtf8(control.text), this);
        button->setDefault((control.style & BS_DEFPUSHBUTTON) != 0);
        if (control.id == IDOK) connect(button, &QPushButton::clicked, this, &QDialog::accept);
        widget = button;
        break;
      }
      default: {
        // Static text, shown as it stands: no "&" prefix processing.
        auto* label = new QLabel(QString::fromUtf8(control.text), this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
    }
    widget->setGeometry(control.Pixels());
  }
}

}  // namespace quelt
