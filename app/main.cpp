#include "app/command_line.h"
#include "app/flasher_app.h"

namespace {
quelt::FlasherApp the_app;
}  // namespace

int main(int argc, char** argv) {
  if (const auto status = quelt::AnswerHelpOrVersion(argc, argv)) return *status;
  the_app.InitInstance(argc, argv);
  return the_app.ExitStatus();
}
