// Command and control identifiers of the main window, as its template and menu number them.
#pragma once

#include "app/paint/templates.h"

namespace quelt {

constexpr int kWriteButtonId = IDC_WRITE;
constexpr int kVerifyButtonId = IDC_VERIFY;
constexpr int kStatusLineId = IDC_STATUS;

constexpr int kLoadBiosCommand = ID_FILE_LOADBIOS;
constexpr int kExitCommand = ID_FILE_EXIT;
constexpr int kAboutCommand = ID_HELP_ABOUT;
constexpr int kSafeModeCommand = ID_PARAMETERS_SAFEMODE;

}  // namespace quelt
