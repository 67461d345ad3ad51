// The texts the flasher shows its user, in one place for both front ends: the window shows them
// in its boxes and status line, the command line prints them, so a user reads the same words in
// both. Free of Qt.
#pragma once

namespace quelt {

constexpr char kAppTitle[] = "Quelt Flasher USB";

// Reading an image file. The two messages go to standard output as the file is read.
constexpr char kCannotOpenMessage[] = "Error while trying to open file\n";
constexpr char kTooBigMessage[] = "File too big";
constexpr char kReadErrorCaption[] = "Error while reading file";
constexpr char kCannotOpenText[] = "Error while trying to open file";
constexpr char kFileTooBigText[] = "File too big";
constexpr char kReadErrorText[] = "Error while reading file";
constexpr char kInvalidFileCaption[] = "Invalid File";
constexpr char kInvalidFileText[] = "This is not a valid Quelt BIOS";
constexpr char kEmptyFileStatus[] = "Error with bios file : impossible to read or empty file";
// "The bios file has been loaded successfully - N KBytes read", N the size in KiB rounded down.
constexpr char kLoadedStatusStart[] = "The bios file has been loaded successfully - ";
constexpr char kLoadedStatusEnd[] = " KBytes read";

// Opening the adapter and reporting the chip.
constexpr char kAdapterNotFoundCaption[] = "Quelt USB Adapter not found";
constexpr char kAdapterNotFoundText[] =
    "Quelt USB Adapter not found!\nMake sure it's plugged correctly and that the driver is "
    "installed\nIf the error persists, unplug then replug the USB cable.";
constexpr char kCantConnectStatus[] = "Can't connect to Quelt USB Adapter!\n";
constexpr char kConnectionErrorCaption[] = "Connection error";
constexpr char kNoChipText[] =
    "The Quelt USB Adapter was detected, but can't communicate with a Quelt JQ or Quelt JQ "
    "Ombrix chip.\nMake sure the DIP switch 2 is ON (Programming mode) and that JQ is turned on.";
constexpr char kUnknownVersionText[] =
    "Unkown version of Quelt JQ detected.\nGet the latest version of this software.";
constexpr char kConnectedBase[] = "Connected to the Quelt JQ";
constexpr char kConnectedLarge[] = "Connected to the Quelt JQ Ombrix";
constexpr char kBaseChipName[] = "Quelt JQ";
constexpr char kLargeChipName[] = "Quelt JQ Ombrix";

// Refusals before a run.
constexpr char kTooBigCaption[] = "File too big";
constexpr char kTooBigForBaseText[] =
    "File too big for Quelt JQ!\nYou need a Quelt JQ Ombrix to load such a big bios.\n";
constexpr char kTooBigStatus[] = "File too big.\n";
constexpr char kNotImplementedCaption[] = "Not Yet Implemented";
constexpr char kNotImplementedText[] =
    "This feature is only implemented for Quelt JQ Ombrix for now...";

// A write and a verify.
constexpr char kErasing[] = "Erasing the chip, please wait...";
constexpr char kWriteCancelled[] = "Write operation cancelled";
constexpr char kWriting[] = "Writing...";
constexpr char kWriteCompleteCaption[] = "Success";
constexpr char kWriteComplete[] =
    "Write complete!\nDon't forget to exit programming mode by switching off DIP switch 2!";
constexpr char kWriteFinished[] = "Writing data - Finished";
constexpr char kVerifying[] = "Verifying, please wait...";
constexpr char kVerifyOkCaption[] = "Verify OK!";
constexpr char kVerifyOkText[] = "No error detected";
constexpr char kVerifyOkStatus[] = "Verify OK";
constexpr char kVerifyErrorCaption[] = "Verify Error!";
constexpr char kVerifyErrorText[] = "Data mismatch";
constexpr char kVerifyErrorStatus[] = "Verify Error";

// Failures the chip does not report: an erase that never settled, a buffer not obtained.
constexpr char kEraseErrorCaption[] = "Erase error";
constexpr char kEraseErrorText[] = "The chip did not finish erasing. Nothing was programmed.";
constexpr char kEraseErrorStatus[] = "Erase error";
constexpr char kErrorCaption[] = "Error";
constexpr char kNoMemoryText[] = "Not enough memory for this operation.";
constexpr char kNoMemoryStatus[] = "Not enough memory";

}  // namespace quelt
