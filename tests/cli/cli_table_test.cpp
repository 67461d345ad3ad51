// Runs the real quelt-flasher-cli, one process per case, against the built-in chip emulator
// ("sim:...") and against the emulator loaded as an adapter library (libquelt-sim.so configured
// by QUELT_SIM), and checks its exit status and what it says.
//
// Rows that name the same flash file run in table order and see the chip that the rows before them
// left (a write, then a verify in another process); rows on different flash files, or on none, run
// two at a time. A row with `via = Both` runs once on each emulator, each with its own flash files.
// To add a case, add a row. The fault matrix at the end of the table is made from a list of faults
// and an expectation for each command, and is printed as a table after the run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/run_process.h"
#include "tests/cli/test_images.h"
#include "tests/cli/test_paths.h"

namespace quelt::testing {
namespace {

namespace fs = std::filesystem;

enum class Via { Builtin, Library, Both };
enum class Where { Out, Err };
// What the flash file must hold after the case.
enum class FlashCheck {
  None,
  ErasedOverImage,  // 0xFF under the whole image
  HoldsImage,       // the image, byte for byte, from address 0
  NotImage,         // not the image: a write that did not take
  Untouched,        // as made in SetUp (a file the emulator refused)
};

struct CliCase {
  std::string label = "";
  Via via = Via::Both;
  // The emulator options as after "sim:"; "{flash:NAME}" names a flash file of the case's run.
  std::string sim = "large";
  // Instead of the emulator: the adapter as given to --adapter ("" = no --adapter, no
  // QUELT_ADAPTER: the platform's library).
  std::optional<std::string> adapter = std::nullopt;
  bool adapter_in_env = false;         // pass the adapter in QUELT_ADAPTER instead of --adapter
  std::vector<std::string> args = {};  // after the adapter; "{file}" is the image file's path
  // One of the images made in SetUp, "missing.qlz", or "sample:NAME" for a sample image.
  std::string file = "";
  int exit = 0;
  std::string message = "";  // must appear in `where`
  Where where = Where::Err;
  std::string absent = "";                             // must appear nowhere in the output
  std::optional<int> stored_safe_mode = std::nullopt;  // the stored "Mode" value
  std::string interrupt_after = "";                    // SIGINT once standard error shows this
  int interrupts = 1;
  FlashCheck flash_check = FlashCheck::None;
  std::string flash_image = "";  // the image for the flash check, as `file` ("" = `file`)
  // A cell of the fault matrix: its row (fault and chip) and its column (the command).
  // Cases of the fault matrix: its row (fault and chip), and its column (the command; -1 for the
  // clean write that comes before a row's cells).
  std::string matrix_row = "";
  int matrix_column = -1;
  // Through an FTDI adapter ("ftdi" unless `adapter` says otherwise): the stand-in libftdi1's
  // devices and buffers (QUELT_FAKE_FTDI without chip=), with the chip of `sim` behind them.
  std::string ftdi = "";
};

// The image files made for the cases (name, size, magic).
struct SampleFile {
  const char* name;
  int32_t size;
  const char* magic;
};
const SampleFile kImages[] = {
    {"large.qlz", 300000, "QELT"},        // three 128 KiB chunks, the last one partial
    {"full.qlz", 0x200000, "QELT"},       // the largest image
    {"base.qlz", 0x20000, "QELT"},        // the largest image for "Quelt JQ"
    {"base-over.qlz", 0x20001, "QELT"},   // one byte too many for "Quelt JQ"
    {"small.qlz", 1023, "QELT"},          // under one KByte
    {"wrong-magic.qlz", 4096, "QELX"},    // not the magic
    {"over-2mib.qlz", 0x200001, "QELT"},  // one byte over 2 MiB
    {"empty.qlz", 0, "QELT"},             // nothing at all
};

// Flash files of each chip's size, for a chip of the other type (made of 0x5A bytes).
const SampleFile kFlashFiles[] = {
    {"flash-131072.bin", 0x20000, ""},
    {"flash-2097152.bin", 0x200000, ""},
};

// The SHA-256 of small.qlz as MakeImage makes it, taken with sha256sum.
const char kSmallSha256[] = "d148a531c6304dd9e4f87d10403eb8d1870642152622852f99a53eb278a46245";

// The fault matrix: every fault the emulator can play against the four chip commands, on both chip
// types. Each row runs in order on a flash file of its own: first a clean write of the row's image
// (a case of the table, not a cell of the matrix), then identify, write, write --verify and verify
// with the fault in place, so that the verify cell checks what the write cells left in the chip.
enum class Fault {
  NoChip,
  AltChip,
  StuckLow,
  StuckHigh,
  BadFirst,
  BadMiddle,
  BadLast,
  BadChipEnd,
  BadPastImage,
  SlowFast,
  SlowSafe,
  WrongSizeFlash,
  EraseTimeout,
};
enum class Chip { Base, Large, Neither };

struct MatrixRow {
  Fault fault;
  Chip chip;
  Via via = Via::Builtin;
};

enum Column { kIdentify, kWrite, kWriteVerify, kVerify, kColumns };
const char* const kColumnNames[kColumns] = {"identify", "write", "write --verify", "verify"};

// Where the cell that keeps its bits at 1 sits, and the chunk a verify must name for it (null for
// a cell the image does not reach). On "Quelt JQ" the whole chip is one chunk and cannot be
// verified, so its cells sit in the first, a middle and the last 4 KiB block, where only the flash
// file shows them.
struct BadPlace {
  Fault fault;
  Chip chip;
  uint32_t address;
  const char* chunk;
};
const BadPlace kBadPlaces[] = {
    {Fault::BadFirst, Chip::Large, 0x000800, "0x000000-0x01FFFF"},
    {Fault::BadMiddle, Chip::Large, 0x020010, "0x020000-0x03FFFF"},
    {Fault::BadLast, Chip::Large, 0x0493DF, "0x040000-0x0493DF"},     // the last byte of large.qlz
    {Fault::BadChipEnd, Chip::Large, 0x1FFFFF, "0x1E0000-0x1FFFFF"},  // the chip's last byte
    // Past the end of large.qlz: nothing there is programmed or compared, so no false alarm.
    {Fault::BadPastImage, Chip::Large, 0x1F0000, nullptr},
    {Fault::BadFirst, Chip::Base, 0x000800, ""},
    {Fault::BadMiddle, Chip::Base, 0x010010, ""},
    {Fault::BadLast, Chip::Base, 0x01FFFF, ""},  // base.qlz fills the chip: its last byte
};

const BadPlace* BadPlaceOf(const MatrixRow& row) {
  for (const BadPlace& place : kBadPlaces) {
    if (place.fault == row.fault && place.chip == row.chip) return &place;
  }
  return nullptr;
}

std::vector<MatrixRow> MatrixRows() {
  std::vector<MatrixRow> rows = {
      // No chip and the unknown version are chip types of their own: there is no base or large
      // variant of them.
      {Fault::NoChip, Chip::Neither, Via::Both},
      {Fault::AltChip, Chip::Neither},
  };
  for (Chip chip : {Chip::Base, Chip::Large}) {
    for (Fault fault :
         {Fault::StuckLow, Fault::StuckHigh, Fault::BadFirst, Fault::BadMiddle, Fault::BadLast,
          Fault::SlowFast, Fault::SlowSafe, Fault::WrongSizeFlash, Fault::EraseTimeout}) {
      rows.push_back({fault, chip});
    }
  }
  // Only the large chip has chunks past the first; the base chip's last byte is its BadLast.
  rows.push_back({Fault::BadChipEnd, Chip::Large});
  rows.push_back({Fault::BadPastImage, Chip::Large});
  // These rows run on the emulator loaded as an adapter library as well.
  for (MatrixRow& row : rows) {
    const bool both = (row.chip == Chip::Large &&
                       (row.fault == Fault::StuckHigh || row.fault == Fault::BadMiddle ||
                        row.fault == Fault::WrongSizeFlash || row.fault == Fault::EraseTimeout)) ||
                      (row.chip == Chip::Base && row.fault == Fault::SlowFast);
    if (both) row.via = Via::Both;
  }
  return rows;
}

std::string FaultName(Fault fault) {
  switch (fault) {
    case Fault::NoChip:
      return "none";
    case Fault::AltChip:
      return "alt";
    case Fault::StuckLow:
      return "stuck=low";
    case Fault::StuckHigh:
      return "stuck=high";
    case Fault::BadFirst:
      return "bad= first chunk";
    case Fault::BadMiddle:
      return "bad= middle chunk";
    case Fault::BadLast:
      return "bad= last chunk";
    case Fault::BadPastImage:
      return "bad= past the image";
    case Fault::BadChipEnd:
      return "bad= chip's last byte";
    case Fault::SlowFast:
      return "slow --fast";
    case Fault::SlowSafe:
      return "slow --safe";
    case Fault::WrongSizeFlash:
      return "flash file of wrong size";
    case Fault::EraseTimeout:
      return "erase-polls > timeout";
  }
  return "";
}

std::string ChipName(Chip chip) {
  return chip == Chip::Base ? "base" : chip == Chip::Large ? "large" : "-";
}

std::string RowImage(const MatrixRow& row) {
  // The erase wait is paced in real time, so the image stays small there.
  if (row.fault == Fault::EraseTimeout) return "small.qlz";
  if (row.fault == Fault::BadChipEnd) return "full.qlz";
  return row.chip == Chip::Base ? "base.qlz" : "large.qlz";
}

// The image of the clean write before the cells. Where the erase never finishes, it differs from
// the row's image, so that the flash shows whether anything was erased or programmed.
std::string PrimeImage(const MatrixRow& row) {
  if (row.fault != Fault::EraseTimeout) return RowImage(row);
  return row.chip == Chip::Base ? "base.qlz" : "large.qlz";
}

// The flash file of a chip of the other type: the emulator refuses it and leaves it as it is.
std::string WrongSizeFlashFile(Chip chip) {
  return chip == Chip::Base ? "flash-2097152.bin" : "flash-131072.bin";
}

std::string WrongSizeText(Chip chip) {
  return chip == Chip::Base ? "holds 2097152 bytes, the chip has 131072"
                            : "holds 131072 bytes, the chip has 2097152";
}

// The emulator options of a row (after the flash file), and the flags before the command.
std::string FaultOptions(const MatrixRow& row) {
  switch (row.fault) {
    case Fault::StuckLow:
      return ",stuck=low";
    case Fault::StuckHigh:
      return ",stuck=high";
    case Fault::SlowFast:
    case Fault::SlowSafe:
      return ",slow";
    case Fault::EraseTimeout:
      // 1,000,000 busy polls paced at 100,000 adapter bytes a second outlast 0.3 s many times.
      return ",erase-polls=1000000,rate=100000";
    default:
      break;
  }
  if (const BadPlace* place = BadPlaceOf(row)) {
    char option[24];
    std::snprintf(option, sizeof option, ",bad=0x%X", static_cast<unsigned>(place->address));
    return option;
  }
  return "";
}

std::vector<std::string> FaultFlags(const MatrixRow& row) {
  if (row.fault == Fault::SlowFast) return {"--fast"};
  if (row.fault == Fault::SlowSafe) return {"--safe"};
  if (row.fault == Fault::EraseTimeout) return {"--erase-timeout", "0.3"};
  return {};
}

struct CellExpectation {
  int exit;
  std::string message;
  Where where = Where::Err;
  std::string absent = "";
  FlashCheck flash = FlashCheck::None;
  std::string flash_image = "";  // the image the flash check looks for ("" = the command's)
};

// What each cell must end with, from the command line's exit statuses and the window's texts.
CellExpectation Expect(const MatrixRow& row, Column column) {
  const char* const kNoChip = "can't communicate with a Quelt JQ or Quelt JQ Ombrix chip";
  const bool base = row.chip == Chip::Base;
  const bool writes = column == kWrite || column == kWriteVerify;
  switch (row.fault) {
    case Fault::NoChip:
      return {4, kNoChip};
    case Fault::AltChip:
      return {4, "Unkown version of Quelt JQ detected."};
    case Fault::StuckLow:
    case Fault::StuckHigh:
      // The chip answers nothing, so nothing is written: the clean write before stays.
      return {4, kNoChip, Where::Err, "", writes ? FlashCheck::HoldsImage : FlashCheck::None};
    case Fault::WrongSizeFlash:
      // The emulator refuses the flash file: no adapter, and the file is not resized or written.
      return {3, WrongSizeText(row.chip), Where::Err, "", FlashCheck::Untouched};
    default:
      break;
  }
  if (column == kIdentify)
    return {0, base ? "Quelt JQ" : "Quelt JQ Ombrix", Where::Out, base ? "Ombrix" : ""};
  // Verify on "Quelt JQ" is refused before anything is read.
  if (base && column == kVerify) {
    return {4, "This feature is only implemented for Quelt JQ Ombrix for now..."};
  }
  // write --verify on "Quelt JQ" is refused before the erase: the chip keeps what the write left.
  if (base && column == kWriteVerify) {
    CellExpectation left = Expect(row, kWrite);
    return {4,
            "Verification is not available for the Quelt JQ, so nothing was erased or written",
            Where::Err,
            "Erasing",
            left.flash,
            left.flash_image};
  }
  if (row.fault == Fault::EraseTimeout) {
    // The first block never finishes erasing, so the other image written before is all still
    // there, and the verify finds it in the first chunk.
    if (writes) {
      return {7,
              "Erase error: The chip did not finish erasing. Nothing was programmed.",
              Where::Err,
              "",
              FlashCheck::HoldsImage,
              PrimeImage(row)};
    }
    return {
        5,
        "Verify Error!: Data mismatch in the 128 KiB chunk at flash addresses 0x000000-0x0003FE"};
  }
  // A bad cell keeps bits at 1, and a slow chip at normal speed keeps none of what is programmed:
  // the write does not take. The write alone cannot tell (the window's write has no check).
  const BadPlace* bad = BadPlaceOf(row);
  const bool takes = (!bad || !bad->chunk) && row.fault != Fault::SlowFast;
  const FlashCheck flash =
      writes ? (takes ? FlashCheck::HoldsImage : FlashCheck::NotImage) : FlashCheck::None;
  if (column == kWrite) return {0, "Write complete!", Where::Out, "", flash};
  if (takes) return {0, "Verify OK!", Where::Out, "", flash};
  // A slow chip fails from the first chunk on; a bad cell only in its own chunk.
  const std::string chunk = bad ? bad->chunk : "0x000000-0x01FFFF";
  return {5, "Verify Error!: Data mismatch in the 128 KiB chunk at flash addresses " + chunk,
          Where::Err, "", flash};
}

std::vector<CliCase> MatrixCases() {
  std::vector<CliCase> cases;
  int number = 0;
  for (const MatrixRow& row : MatrixRows()) {
    ++number;
    const std::string name = FaultName(row.fault) + ", " + ChipName(row.chip);
    const std::string type = row.chip == Chip::Neither
                                 ? (row.fault == Fault::NoChip ? "none" : "alt")
                                 : ChipName(row.chip);
    std::string flash = "";
    if (row.fault == Fault::WrongSizeFlash) {
      flash = ",flash={dir}/" + WrongSizeFlashFile(row.chip);
    } else if (row.chip != Chip::Neither) {
      flash = ",flash={flash:matrix-" + std::to_string(number) + "}";
      CliCase clean;
      clean.label = name + ": clean write first";
      clean.via = row.via;
      clean.sim = type + flash;
      clean.args = {"--quiet", "write", "{file}"};
      clean.file = PrimeImage(row);
      clean.message = "Write complete!";
      clean.where = Where::Out;
      clean.flash_check = FlashCheck::HoldsImage;
      clean.matrix_row = name;
      cases.push_back(clean);
    }
    for (int column = 0; column < kColumns; ++column) {
      const CellExpectation expect = Expect(row, static_cast<Column>(column));
      CliCase cell;
      cell.label = name + ": " + kColumnNames[column];
      cell.via = row.via;
      cell.sim = type + flash + FaultOptions(row);
      cell.args = FaultFlags(row);
      cell.args.push_back("--quiet");
      switch (column) {
        case kIdentify:
          cell.args.push_back("identify");
          break;
        case kWrite:
          cell.args.insert(cell.args.end(), {"write", "{file}"});
          break;
        case kWriteVerify:
          cell.args.insert(cell.args.end(), {"write", "{file}", "--verify"});
          break;
        case kVerify:
          cell.args.insert(cell.args.end(), {"verify", "{file}"});
          break;
      }
      cell.file = column == kIdentify ? "" : RowImage(row);
      cell.exit = expect.exit;
      cell.message = expect.message;
      cell.where = expect.where;
      cell.absent = expect.absent;
      cell.flash_check = expect.flash;
      cell.flash_image = expect.flash_image;
      cell.matrix_row = name;
      cell.matrix_column = column;
      cases.push_back(cell);
    }
  }
  return cases;
}

const std::vector<CliCase>& Cases() {
  // clang-format off
  static const std::vector<CliCase> cases = [] {
    std::vector<CliCase> table = {
      // Through an FTDI adapter in bit-bang mode: the simulated device of the stand-in libftdi1.
      {.label = "ftdi identify large", .via = Via::Builtin, .sim = "large", .args = {"identify"}, .message = "Quelt JQ Ombrix", .where = Where::Out, .ftdi = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20"},
      {.label = "ftdi identify base on FT232H", .via = Via::Builtin, .sim = "base", .args = {"identify"}, .message = "Quelt JQ", .where = Where::Out, .absent = "Ombrix", .ftdi = "dev=0403:6014:H1:Single RS232-HS"},
      {.label = "ftdi identify alt", .via = Via::Builtin, .sim = "alt", .args = {"identify"}, .exit = 4, .message = "Unkown version", .ftdi = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20"},
      {.label = "ftdi identify none", .via = Via::Builtin, .sim = "none", .args = {"identify"}, .exit = 4, .message = "can't communicate", .ftdi = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20"},
      {.label = "ftdi write sample 2 MiB", .via = Via::Builtin, .sim = "large,flash={flash:ftdi}", .args = {"write", "{file}"}, .file = "sample:demo-2m.qlz", .message = "opened 0403:6001 \"FT232R USB UART\" serial \"A1\"", .flash_check = FlashCheck::HoldsImage, .ftdi = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20"},
      {.label = "ftdi verify sample 2 MiB", .via = Via::Builtin, .sim = "large,flash={flash:ftdi}", .args = {"verify", "{file}"}, .file = "sample:demo-2m.qlz", .message = "Verify OK!", .where = Where::Out, .ftdi = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20"},
      {.label = "ftdi write sample 128 KiB on base", .via = Via::Builtin, .sim = "base,flash={flash:ftdi-base}", .args = {"write", "{file}"}, .file = "sample:demo-128k.qlz", .message = "Write complete!", .where = Where::Out, .flash_check = FlashCheck::HoldsImage, .ftdi = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20"},
      {.label = "ftdi bad cell in the middle chunk", .via = Via::Builtin, .sim = "large,bad=0x20123:0x04", .args = {"write", "{file}", "--verify"}, .file = "large.qlz", .exit = 5, .message = "chunk at flash addresses 0x020000-0x03FFFF", .ftdi = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20"},
      {.label = "ftdi slow chip --fast", .via = Via::Builtin, .sim = "large,slow", .args = {"--fast", "write", "{file}", "--verify"}, .file = "small.qlz", .exit = 5, .message = "Verify Error!", .ftdi = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20"},
      {.label = "ftdi slow chip --safe", .via = Via::Builtin, .sim = "large,slow", .args = {"--safe", "write", "{file}", "--verify"}, .file = "small.qlz", .message = "Verify OK!", .where = Where::Out, .ftdi = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20"},
      {.label = "ftdi several devices refused", .via = Via::Builtin, .args = {"identify"}, .exit = 3, .message = "index=1: 0403:6001 \"FT232R USB UART\" serial \"A2\"", .ftdi = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20" ";dev=0403:6001:A2:FT232R USB UART"},
      {.label = "ftdi device by serial", .via = Via::Builtin, .adapter = "ftdi,serial=A2", .adapter_in_env = true, .args = {"identify"}, .message = "serial \"A2\"", .ftdi = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20" ";dev=0403:6001:A2:FT232R USB UART"},
      {.label = "ftdi absent", .via = Via::Builtin, .args = {"identify"}, .exit = 3, .message = "no device found (0403:6001, 0403:6014, 0403:6010)", .ftdi = "rx=128"},
      {.label = "ftdi not found text", .via = Via::Builtin, .args = {"identify"}, .exit = 3, .message = "Quelt USB Adapter not found", .ftdi = "rx=128"},
      {.label = "ftdi no permission", .via = Via::Builtin, .args = {"identify"}, .exit = 3, .message = "res/60-quelt-flasher-ftdi.rules", .ftdi = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20" ";denied"},
      {.label = "ftdi option refused", .via = Via::Builtin, .adapter = "ftdi,colour=blue", .args = {"identify"}, .exit = 3, .message = "\"colour=blue\" is unknown", .ftdi = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20"},
      // Identification of each type.
      {.label = "identify large", .sim = "large", .args = {"identify"}, .message = "Quelt JQ Ombrix", .where = Where::Out},
      {.label = "identify base", .sim = "base", .args = {"identify"}, .message = "Quelt JQ", .where = Where::Out, .absent = "Ombrix"},
      {.label = "adapter from QUELT_ADAPTER", .via = Via::Builtin, .sim = "base", .adapter_in_env = true, .args = {"identify"}, .message = "Quelt JQ", .where = Where::Out, .absent = "Ombrix"},

      // A write, then verifies in later processes of the same flash file.
      {.label = "write large", .sim = "large,flash={flash:large}", .args = {"write", "{file}"}, .file = "large.qlz", .message = "Write complete!", .where = Where::Out},
      {.label = "verify large", .sim = "large,flash={flash:large}", .args = {"verify", "{file}"}, .file = "large.qlz", .message = "Verify OK!", .where = Where::Out},
      {.label = "verify another image", .sim = "large,flash={flash:large}", .args = {"verify", "{file}"}, .file = "base.qlz", .exit = 5, .message = "0x000000-0x01FFFF"},
      {.label = "write --verify 2 MiB", .via = Via::Builtin, .sim = "large,flash={flash:full}", .args = {"--quiet", "write", "{file}", "--verify"}, .file = "full.qlz", .message = "Verify OK!", .where = Where::Out},

      // The sample images: written, then verified by another process.
      {.label = "write sample 2 MiB", .sim = "large,flash={flash:sample}", .args = {"write", "{file}"}, .file = "sample:demo-2m.qlz", .message = "Write complete!", .where = Where::Out},
      {.label = "verify sample 2 MiB", .sim = "large,flash={flash:sample}", .args = {"verify", "{file}"}, .file = "sample:demo-2m.qlz", .message = "Verify OK!", .where = Where::Out},
      {.label = "write --verify sample 256 KiB", .sim = "large,flash={flash:sample}", .args = {"write", "{file}", "--verify"}, .file = "sample:demo-256k.qlz", .message = "Verify OK!", .where = Where::Out},
      {.label = "write sample 128 KiB on base", .sim = "base,flash={flash:sample-base}", .args = {"write", "{file}"}, .file = "sample:demo-128k.qlz", .message = "Write complete!", .where = Where::Out},
      {.label = "write base", .sim = "base,flash={flash:base}", .args = {"write", "{file}"}, .file = "base.qlz", .message = "Write complete!", .where = Where::Out},
      {.label = "image too big for base", .sim = "base", .args = {"write", "{file}"}, .file = "base-over.qlz", .exit = 4, .message = "File too big for Quelt JQ!"},

      // The speed setting stored by the window, and --fast over it (the matrix covers the flags).
      {.label = "slow chip, stored safe mode", .via = Via::Builtin, .sim = "large,slow", .args = {"write", "{file}", "--verify"}, .file = "large.qlz", .message = "Verify OK!", .where = Where::Out, .stored_safe_mode = 1},
      {.label = "slow chip, --fast over stored", .via = Via::Builtin, .sim = "large,slow", .args = {"--fast", "write", "{file}", "--verify"}, .file = "large.qlz", .exit = 5, .message = "Verify Error!", .stored_safe_mode = 1},

      // Images that are refused, after the chip was identified.
      {.label = "wrong magic", .args = {"write", "{file}"}, .file = "wrong-magic.qlz", .exit = 2, .message = "This is not a valid Quelt BIOS"},
      {.label = "missing file", .args = {"verify", "{file}"}, .file = "missing.qlz", .exit = 2, .message = "Error while trying to open file"},
      {.label = "file over 2 MiB", .args = {"write", "{file}"}, .file = "over-2mib.qlz", .exit = 2, .message = "File too big"},

      // Adapters that cannot be used.
      {.label = "missing adapter library", .via = Via::Builtin, .adapter = "/nonexistent/libQueltUSB.so", .args = {"identify"}, .exit = 3, .message = "Quelt USB Adapter not found"},
      {.label = "no adapter named", .via = Via::Builtin, .adapter = "", .args = {"identify"}, .exit = 3, .message = "Quelt USB Adapter not found"},
      {.label = "emulator option refused", .via = Via::Builtin, .adapter = "sim:large,colour=blue", .args = {"identify"}, .exit = 3, .message = "colour"},

      // Ctrl-C during the erase: the erase completes, nothing is programmed. The chip is written
      // first so that the erase shows.
      {.label = "write before cancel", .sim = "large,flash={flash:cancel}", .args = {"--quiet", "write", "{file}"}, .file = "base.qlz", .message = "Write complete!", .where = Where::Out},
      {.label = "Ctrl-C during erase", .sim = "large,flash={flash:cancel},rate=20000,erase-polls=400", .args = {"write", "{file}"}, .file = "base.qlz", .exit = 6, .message = "Write operation cancelled", .absent = "Writing...", .interrupt_after = "Erasing the chip", .flash_check = FlashCheck::ErasedOverImage},
      {.label = "Ctrl-C while programming", .via = Via::Builtin, .sim = "large,rate=20000", .args = {"write", "{file}"}, .file = "small.qlz", .message = "programming cannot be cancelled", .interrupt_after = "Writing..."},
      {.label = "Ctrl-C twice during erase", .via = Via::Builtin, .sim = "large,rate=20000,erase-polls=400", .args = {"write", "{file}"}, .file = "base.qlz", .exit = 6, .message = "partial image", .interrupt_after = "Erasing the chip", .interrupts = 2},

      // Images checked without an adapter.
      {.label = "info", .via = Via::Builtin, .adapter = "/nonexistent/libQueltUSB.so", .args = {"info", "{file}"}, .file = "small.qlz", .message = std::string("SHA-256:          ") + kSmallSha256, .where = Where::Out},
      {.label = "info size", .via = Via::Builtin, .adapter = "", .args = {"info", "{file}"}, .file = "small.qlz", .message = "1023 bytes (0 KBytes)", .where = Where::Out},
      {.label = "info wrong magic", .via = Via::Builtin, .adapter = "", .args = {"info", "{file}"}, .file = "wrong-magic.qlz", .exit = 2, .message = "This is not a valid Quelt BIOS"},
      {.label = "info empty file", .via = Via::Builtin, .adapter = "", .args = {"info", "{file}"}, .file = "empty.qlz", .exit = 2, .message = "impossible to read or empty file"},
      {.label = "info of a folder", .via = Via::Builtin, .adapter = "", .args = {"info", "{file}"}, .file = ".", .exit = 2, .message = "Error while reading file"},
      {.label = "info over 2 MiB", .via = Via::Builtin, .adapter = "", .args = {"info", "{file}"}, .file = "over-2mib.qlz", .exit = 2, .message = "File too big"},

      // Usage.
      {.label = "no command", .via = Via::Builtin, .adapter = "", .args = {}, .exit = 1},
      {.label = "--safe with --fast", .via = Via::Builtin, .args = {"--safe", "--fast", "identify"}, .exit = 1},
      {.label = "erase timeout above the default", .via = Via::Builtin, .args = {"--erase-timeout", "60", "identify"}, .exit = 1},
      {.label = "erase timeout not a number", .via = Via::Builtin, .args = {"--erase-timeout", "nan", "identify"}, .exit = 1, .message = "--erase-timeout"},
      {.label = "help", .via = Via::Builtin, .adapter = "", .args = {"--help"}, .message = "Exit status: 0 done, 1 usage, 2 image refused", .where = Where::Out},
      {.label = "version", .via = Via::Builtin, .adapter = "", .args = {"--version"}, .message = "quelt-flasher-cli 1.0", .where = Where::Out},
    };
    for (CliCase& cell : MatrixCases()) table.push_back(std::move(cell));
    return table;
  }();
  // clang-format on
  return cases;
}

struct Outcome {
  std::string label = "";
  int expected_exit = 0;
  int exit = -1;
  bool passed = false;
  std::string why = "";     // what was not as expected
  std::string detail = "";  // the failure with the command's output
  std::string matrix_row = "";
  int matrix_column = -1;
  // Through an FTDI adapter ("ftdi" unless `adapter` says otherwise): the stand-in libftdi1's
  // devices and buffers (QUELT_FAKE_FTDI without chip=), with the chip of `sim` behind them.
  std::string ftdi = "";
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The flash file named in emulator options, or "".
std::string FlashPath(const std::string& sim) {
  const size_t at = sim.find("flash=");
  if (at == std::string::npos) return "";
  return sim.substr(at + 6, sim.find(',', at) - at - 6);
}

class CliTable : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quelt-cli-table-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    for (const SampleFile& file : kImages) {
      WriteFile(dir_ + "/" + file.name,
                MakeImage(file.size, "CLI TEST IMAGE", file.size, file.magic));
    }
    for (const SampleFile& file : kFlashFiles) {
      const std::vector<uint8_t> bytes(static_cast<size_t>(file.size), 0x5A);
      WriteFile(dir_ + "/" + file.name, bytes);
      WriteFile(dir_ + "/" + file.name + ".made", bytes);
    }
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The emulator options of a case on one emulator, with its file names filled in.
  std::string SimOptions(const CliCase& c, Via via) const {
    const std::string tag = via == Via::Library ? "lib" : "sim";
    std::string sim = Replace(c.sim, "{dir}", dir_);
    for (size_t at; (at = sim.find("{flash:")) != std::string::npos;) {
      const size_t end = sim.find('}', at);
      const std::string name = sim.substr(at + 7, end - at - 7);
      sim.replace(at, end - at + 1, dir_ + "/flash-" + name + "-" + tag + ".bin");
    }
    return sim;
  }

  std::string FilePath(const std::string& file) const {
    return file.starts_with("sample:") ? SamplesDir() + "/" + file.substr(7) : dir_ + "/" + file;
  }

  // Runs one case on one emulator ("sim" or "lib"). Safe to call from several threads at once:
  // each run has its own folder.
  Outcome Run(const CliCase& c, Via via, int index) const {
    const std::string tag = via == Via::Library ? "lib" : "sim";
    Outcome outcome;
    outcome.label = c.adapter || !c.ftdi.empty() ? c.label : c.label + " [" + tag + "]";
    outcome.expected_exit = c.exit;
    if (!c.matrix_row.empty()) {
      outcome.matrix_row = c.matrix_row + (c.via == Via::Both ? " [" + tag + "]" : "");
      outcome.matrix_column = c.matrix_column;
    }
    const std::string run_dir = dir_ + "/run-" + std::to_string(index) + "-" + tag;
    fs::create_directories(run_dir + "/config");

    const std::string sim = SimOptions(c, via);
    const std::string file = FilePath(c.file);

    ProcessRun run;
    run.argv = {cli_};
    run.work_dir = run_dir;
    run.env = {{"QUELT_ADAPTER", std::nullopt},
               {"QUELT_SIM", std::nullopt},
               {"XDG_CONFIG_HOME", run_dir + "/config"}};
    std::optional<std::string> adapter = c.adapter;
    if (!c.ftdi.empty()) {
      run.env["QUELT_FAKE_FTDI"] = c.ftdi + ";chip=" + sim;
#ifdef QUELT_FAKE_FTDI_DIR
      run.env["LD_LIBRARY_PATH"] = QUELT_FAKE_FTDI_DIR;
#endif
      if (!adapter) adapter = "ftdi";
      // The simulated device decodes byte by byte: 2 MiB under the sanitizers takes minutes.
      run.timeout = std::chrono::seconds(480);
    }
    if (!adapter) {
      if (via == Via::Library) {
        adapter = sim_library_;
        run.env["QUELT_SIM"] = sim;
      } else {
        adapter = "sim:" + sim;
      }
    }
    if (c.adapter_in_env) {
      run.env["QUELT_ADAPTER"] = *adapter;
    } else if (!adapter->empty()) {
      run.argv.insert(run.argv.end(), {"--adapter", *adapter});
    }
    for (const std::string& arg : c.args) run.argv.push_back(Replace(arg, "{file}", file));
    if (c.stored_safe_mode) StoreSafeMode(run_dir + "/config", *c.stored_safe_mode);
    run.interrupt_after = c.interrupt_after;
    run.interrupts = c.interrupts;

    const ProcessResult result = RunProcess(run);
    outcome.exit = result.exit_status;
    const std::string& where = c.where == Where::Out ? result.out : result.err;
    const std::string flash_image = c.flash_image.empty() ? file : FilePath(c.flash_image);
    if (result.timed_out)
      outcome.why = "timed out";
    else if (result.exit_status != c.exit)
      outcome.why = "exit status";
    else if (where.find(c.message) == std::string::npos)
      outcome.why = "message missing";
    else if (!c.absent.empty() && (result.out + result.err).find(c.absent) != std::string::npos)
      outcome.why = "unexpected \"" + c.absent + "\"";
    else if (!c.interrupt_after.empty() && !result.interrupted)
      outcome.why = "never interrupted";
    else if (!FlashAsExpected(c.flash_check, FlashPath(sim), flash_image))
      outcome.why = "flash file not as expected";
    else if (result.out.find("Error while trying to open file") != std::string::npos ||
             result.out.find("File too big") != std::string::npos)
      outcome.why = "an image message on standard output";
    else if (!c.stored_safe_mode && !fs::is_empty(run_dir + "/config"))
      outcome.why = "the settings were written";
    outcome.passed = outcome.why.empty();
    if (!outcome.passed) {
      outcome.detail = outcome.label + ": " + outcome.why + " (exit " +
                       std::to_string(result.exit_status) + ", expected " + std::to_string(c.exit) +
                       ", message \"" + c.message + "\")\n--- stdout:\n" + result.out +
                       "--- stderr:\n" + result.err;
    }
    return outcome;
  }

  static void StoreSafeMode(const std::string& config, int value) {
    const std::string key = config + "/quelt-flasher/Software/Quelt JQ";
    fs::create_directories(key);
    std::vector<uint8_t> bytes = {3, 0, 0, 0};
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    WriteFile(key + "/Mode", bytes);
  }

  static bool FlashAsExpected(FlashCheck check, const std::string& flash_path,
                              const std::string& image_path) {
    if (check == FlashCheck::None) return true;
    if (flash_path.empty()) return false;
    const std::vector<uint8_t> flash = ReadFile(flash_path);
    if (check == FlashCheck::Untouched) return flash == ReadFile(flash_path + ".made");
    if (!fs::is_regular_file(image_path)) return false;
    const std::vector<uint8_t> image = ReadFile(image_path);
    if (image.empty() || flash.size() < image.size()) return false;
    switch (check) {
      case FlashCheck::ErasedOverImage:
        return std::all_of(flash.begin(), flash.begin() + static_cast<ptrdiff_t>(image.size()),
                           [](uint8_t byte) { return byte == 0xFF; });
      case FlashCheck::HoldsImage:
        return std::equal(image.begin(), image.end(), flash.begin());
      case FlashCheck::NotImage:
        return !std::equal(image.begin(), image.end(), flash.begin());
      default:
        return false;
    }
  }

  std::string dir_;
  const std::string cli_ = CliPath();
  const std::string sim_library_ = SimLibraryPath();
};

// The matrix: faults as rows, commands as columns, each cell the exit status got / expected
// ("!" marks a cell not as expected, for its exit status or for anything else).
void PrintMatrix(const std::vector<Outcome>& outcomes) {
  std::vector<std::string> rows;
  std::map<std::string, std::array<std::string, kColumns>> cells;
  int tried = 0;
  int passed = 0;
  for (const Outcome& o : outcomes) {
    if (o.matrix_column < 0) continue;
    if (!cells.count(o.matrix_row)) rows.push_back(o.matrix_row);
    char cell[32];
    std::snprintf(cell, sizeof cell, "%d / %d%s", o.exit, o.expected_exit, o.passed ? "" : " !");
    cells[o.matrix_row][static_cast<size_t>(o.matrix_column)] = cell;
    ++tried;
    passed += o.passed ? 1 : 0;
  }
  std::printf(
      "\nFault matrix: exit status got / expected, \"!\" where not as expected; [sim] built-in "
      "emulator, [lib] the emulator as an adapter library\n%-38s",
      "fault, chip");
  for (const char* name : kColumnNames) std::printf(" %-15s", name);
  std::printf("\n");
  for (const std::string& row : rows) {
    std::printf("%-38s", row.c_str());
    for (const std::string& cell : cells[row]) std::printf(" %-15s", cell.c_str());
    std::printf("\n");
  }
  std::printf("matrix cells tried: %d, as expected: %d\n", tried, passed);
}

// The cases outside the matrix one by one (and any matrix case not as expected), then the matrix.
void PrintSummary(const std::vector<Outcome>& outcomes) {
  int passed = 0;
  std::printf("\n%-3s %-52s %8s %5s  %s\n", "#", "case", "expected", "exit", "result");
  for (size_t i = 0; i < outcomes.size(); ++i) {
    const Outcome& o = outcomes[i];
    passed += o.passed ? 1 : 0;
    if (!o.matrix_row.empty() && o.passed) continue;
    std::printf("%-3zu %-52s %8d %5d  %s\n", i + 1, o.label.c_str(), o.expected_exit, o.exit,
                o.passed ? "as expected" : ("NOT as expected: " + o.why).c_str());
  }
  PrintMatrix(outcomes);
  std::printf("cases tried: %zu, as expected: %d\n\n", outcomes.size(), passed);
}

TEST_F(CliTable, EveryCaseEndsAsExpected) {
  // Every run of a case, in table order. Runs on the same flash file form a lane that keeps that
  // order (a write, then a verify in another process); lanes run on two threads.
  struct Job {
    const CliCase* c;
    Via via;
    int index;
  };
  std::vector<Job> jobs;
  int index = 0;
  for (const CliCase& c : Cases()) {
    ++index;
    if (c.via != Via::Library) jobs.push_back({&c, Via::Builtin, index});
    if (c.via != Via::Builtin) jobs.push_back({&c, Via::Library, index});
  }
  std::vector<std::vector<size_t>> lanes;
  std::map<std::string, size_t> lane_of_flash;
  for (size_t j = 0; j < jobs.size(); ++j) {
    const std::string flash = FlashPath(SimOptions(*jobs[j].c, jobs[j].via));
    if (flash.empty() || !lane_of_flash.count(flash)) {
      if (!flash.empty()) lane_of_flash[flash] = lanes.size();
      lanes.emplace_back();
    }
    lanes[flash.empty() ? lanes.size() - 1 : lane_of_flash[flash]].push_back(j);
  }

  std::vector<Outcome> outcomes(jobs.size());
  std::atomic<size_t> next_lane{0};
  auto work = [&] {
    for (size_t lane; (lane = next_lane++) < lanes.size();) {
      for (size_t j : lanes[lane]) {
        try {
          outcomes[j] = Run(*jobs[j].c, jobs[j].via, jobs[j].index);
        } catch (const std::exception& e) {
          outcomes[j].label = jobs[j].c->label;
          outcomes[j].why = e.what();
          outcomes[j].detail = outcomes[j].label + ": " + e.what();
          outcomes[j].matrix_row = jobs[j].c->matrix_row;
          outcomes[j].matrix_column = jobs[j].c->matrix_column;
        }
      }
    }
  };
  std::thread helper(work);
  work();
  helper.join();

  for (const Outcome& o : outcomes) {
    if (!o.passed) ADD_FAILURE() << o.detail;
  }
  PrintSummary(outcomes);
}

}  // namespace
}  // namespace quelt::testing
