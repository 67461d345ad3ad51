// The application icon: the window's icon, the minimised window's picture and the About box's.
#pragma once

#include <QIcon>

namespace quelt {

QIcon ApplicationIcon();

}  // namespace quelt
