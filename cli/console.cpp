#include "cli/console.h"

#include <cstdio>
#include <string>

namespace quelt::cli {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// A console that cannot take a line has no one else to tell; the command goes on.
void PutLine(std::FILE* stream, std::string_view text) {
  (void)std::fwrite(text.data(), 1, text.size(), stream);
  std::fputc('\n', stream);
  (void)std::fflush(stream);
}

}  // namespace

void Console::Status(std::string_view text) const {
  if (!quiet_) PutLine(stderr, Trimmed(text));
}

void Console::Result(std::string_view text) const { PutLine(stdout, Trimmed(text)); }

void Console::Error(std::string_view caption, std::string_view text) const {
  std::string line = "quelt-flasher-cli: ";
  if (!caption.empty()) {
    line += caption;
    line += ": ";
  }
  line += Trimmed(text);
  PutLine(stderr, line);
}

}  // namespace quelt::cli
