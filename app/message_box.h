// The window's message boxes: one OK button, an error, warning or information icon or none, and
// the application name as the caption of a box given without one.
#pragma once

#include <QMessageBox>
#include <QString>

#include "flash/flash_observer.h"

namespace quelt {

struct BoxContent {
  QString text;
  QString caption;  // empty: the application name
  BoxIcon icon = BoxIcon::None;
};

// The caption of boxes shown without one: the executable's file name without its extension.
QString ApplicationCaption();

// Builds the box, not shown yet. `owner` null makes a box without an owner window.
QMessageBox* MakeMessageBox(const BoxContent& content, QWidget* owner);

// Shows a box owned by `owner`, modal to that window only, and returns when it has been closed
// (window thread only).
void ShowMessageBox(const BoxContent& content, QWidget* owner);

}  // namespace quelt
