// Where the command line's words go: results on standard output, status texts and progress on
// standard error (silenced by --quiet), errors on standard error always.
#pragma once

#include <string_view>

namespace quelt::cli {

class Console {
 public:
  explicit Console(bool quiet) : quiet_(quiet) {}

  bool quiet() const { return quiet_; }
  // A status text of the run ("Writing..."); a trailing newline of the window's texts is dropped.
  void Status(std::string_view text) const;
  // The outcome of the command, for the user or a script reading standard output.
  void Result(std::string_view text) const;
  // A failure: "quelt-flasher-cli: CAPTION: TEXT" (the caption left out when empty).
  void Error(std::string_view caption, std::string_view text) const;

 private:
  bool quiet_;
};

}  // namespace quelt::cli
