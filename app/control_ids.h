// Command and control identifiers of the main window, as its template and menu number them.
#pragma once

namespace quelt {

constexpr int kWriteButtonId = 1002;
constexpr int kVerifyButtonId = 1003;
constexpr int kProgressBarId = 1005;
constexpr int kStatusLineId = 1006;

constexpr int kLoadBiosCommand = 32771;
constexpr int kExitCommand = 32776;
constexpr int kAboutCommand = 32777;
constexpr int kSafeModeCommand = 32778;

}  // namespace quelt
