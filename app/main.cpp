#include "app/flasher_app.h"

namespace {
quelt::FlasherApp the_app;
}  // namespace

int main(int argc, char** argv) {
  the_app.InitInstance(argc, argv);
  return 0;
}
