#include "app/command_line.h"

#include <cstdio>
#include <string_view>

#ifndef QUELT_VERSION
#define QUELT_VERSION "unknown"
#endif

namespace quelt {
namespace {

// Laid out for help2man, which makes the manual page from it.
constexpr const char* kHelp =
    "Usage: quelt-flasher [--help | --version]\n"
    "\n"
    "Opens the Quelt Flasher USB window, which writes a BIOS image into a Quelt JQ or Quelt JQ\n"
    "Ombrix chip through the Quelt USB adapter and verifies it. Other words on the command line\n"
    "are ignored.\n"
    "\n"
    "Options:\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n"
    "\n"
    "Environment:\n"
    "  QUELT_ADAPTER  the adapter: 'sim' or 'sim:TYPE[,OPTION...]' for the built-in chip\n"
    "                 emulator, or the path of an adapter library; unset: libQueltUSB.so on\n"
    "                 the library search path\n";

}  // namespace

std::optional<int> AnswerHelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i] ? argv[i] : "";
    if (word != "--help" && word != "--version") continue;
    const int printed = word == "--help" ? std::fputs(kHelp, stdout)
                                         : std::printf("quelt-flasher %s\n", QUELT_VERSION);
    return printed >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
  }
  return std::nullopt;
}

}  // namespace quelt
