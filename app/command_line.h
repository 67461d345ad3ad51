// The window's command line: --help and --version are answered before any start-up, so that
// they work without a display, an adapter or the image buffer. Every other word is ignored.
#pragma once

#include <optional>

namespace quelt {

// When an argument after argv[0] is "--help" or "--version" (the first one found counts),
// prints the help or the version on standard output and returns the process's exit status
// (0, or 1 when standard output could not be written). Otherwise returns nothing.
std::optional<int> AnswerHelpOrVersion(int argc, char** argv);

}  // namespace quelt
