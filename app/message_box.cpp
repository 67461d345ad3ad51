#include "app/message_box.h"

#include <QCoreApplication>

namespace quelt {
namespace {

QMessageBox::Icon ToQt(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Error:
      return QMessageBox::Critical;
    case BoxIcon::Warning:
      return QMessageBox::Warning;
    case BoxIcon::Information:
      return QMessageBox::Information;
    case BoxIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

QString ApplicationCaption() { return QCoreApplication::applicationName(); }

QMessageBox* MakeMessageBox(const BoxContent& content, QWidget* owner) {
  auto* box = new QMessageBox(ToQt(content.icon),
                              content.caption.isEmpty() ? ApplicationCaption() : content.caption,
                              content.text, QMessageBox::Ok, owner);
  box->setTextFormat(Qt::PlainText);
  box->setAttribute(Qt::WA_DeleteOnClose);
  return box;
}

void ShowMessageBox(const BoxContent& content, QWidget* owner) {
  QMessageBox* box = MakeMessageBox(content, owner);
  box->setAttribute(Qt::WA_DeleteOnClose, false);
  // Modal to its owner only, not to the whole application: a box without an owner (the
  // "Success" box of a write) stays usable while this one shows.
  if (owner) box->setWindowModality(Qt::WindowModal);
  box->exec();
  delete box;
}

}  // namespace quelt
