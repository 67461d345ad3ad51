#include "app_icon.h"

namespace quelt {

QIcon ApplicationIcon() { return QIcon(); }

}  // namespace quelt
