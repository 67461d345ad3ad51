#include "link/ftdi/ftdi_adapter.h"

#include <ftdi.h>

#include <cstdio>
#include <utility>

namespace quelt {
namespace {

// The udev rule that gives the logged-in user the device; the README shows it.
constexpr const char* kUdevRuleHint =
    "no permission to open it: install the udev rule res/60-quelt-flasher-ftdi.rules into "
    "/etc/udev/rules.d/ (it tags FTDI devices 0403:6001, 0403:6014 and 0403:6010 with "
    "TAG+=\"uaccess\"), run \"udevadm control --reload\" and plug the adapter in again";

// libftdi's code for a failed libusb_open(), which on Linux nearly always means no permission.
constexpr int kLibusbOpenFailed = -4;

// Adapter bytes per second for each unit of the value given to ftdi_set_baudrate in bit-bang
// mode: libftdi multiplies the value by four before it picks the divisor, and the device moves
// one byte per period of that rate. This follows the vendor's bit-bang notes for the R series and
// is assumed for the H series, whose bit-bang clock may differ; none of it has been measured on
// hardware yet (the README says how to check).
constexpr uint32_t kBytesPerBaudUnit = 4;

struct Candidate {
  FtdiUsbId id;
  libusb_device* device = nullptr;
  std::string description;
  std::string serial;
  bool strings_read = false;
};

std::string Describe(const Candidate& c) {
  if (!c.strings_read) return FormatUsbId(c.id) + " (description and serial not readable)";
  return FormatUsbId(c.id) + " \"" + c.description + "\" serial \"" + c.serial + "\"";
}

}  // namespace

FtdiAdapter::FtdiAdapter(const FtdiOptions& options) : options_(options) {}

FtdiAdapter::~FtdiAdapter() {
  if (claimed_) FinishRead();
  if (ftdi_) ftdi_free(ftdi_);
}

uint32_t FtdiAdapter::Open() {
  if (claimed_) return 0;
  open_error_.clear();
  if (Claim()) {
    claimed_ = true;
    return 0;
  }
  return 1;
}

bool FtdiAdapter::Claim() {
  if (!ftdi_ && !(ftdi_ = ftdi_new())) {
    open_error_ = "FTDI adapter: libftdi could not start";
    return false;
  }
  std::vector<ftdi_device_list*> lists;
  std::vector<Candidate> found;
  bool no_access = false;
  for (const FtdiUsbId& id : options_.ids) {
    ftdi_device_list* list = nullptr;
    const int count = ftdi_usb_find_all(ftdi_, &list, id.vendor, id.product);
    if (count < 0) {
      open_error_ =
          std::string("FTDI adapter: cannot list USB devices: ") + ftdi_get_error_string(ftdi_);
      for (ftdi_device_list*& l : lists) ftdi_list_free(&l);
      return false;
    }
    lists.push_back(list);
    for (ftdi_device_list* node = list; node; node = node->next) {
      Candidate c;
      c.id = id;
      c.device = node->dev;
      char description[128] = "";
      char serial[128] = "";
      const int got = ftdi_usb_get_strings(ftdi_, node->dev, nullptr, 0, description,
                                           sizeof description, serial, sizeof serial);
      if (got == 0) {
        c.strings_read = true;
        c.description = description;
        c.serial = serial;
      } else if (got == kLibusbOpenFailed) {
        no_access = true;
      }
      if (!options_.serial || (c.strings_read && c.serial == *options_.serial)) {
        found.push_back(std::move(c));
      }
    }
  }

  std::string looked_for;
  for (const FtdiUsbId& id : options_.ids) {
    looked_for += (looked_for.empty() ? "" : ", ") + FormatUsbId(id);
  }
  if (options_.serial) looked_for += " with serial \"" + *options_.serial + "\"";

  const Candidate* chosen = nullptr;
  if (options_.index && *options_.index < found.size()) {
    chosen = &found[*options_.index];
  } else if (options_.index) {
    open_error_ = "FTDI adapter: no device " + std::to_string(*options_.index) + " among the " +
                  std::to_string(found.size()) + " found (" + looked_for + ")";
  } else if (found.size() == 1) {
    chosen = &found[0];
  } else if (found.empty()) {
    open_error_ = "FTDI adapter: no device found (" + looked_for + ")";
    if (no_access) open_error_ += "; a device is there but gave " + std::string(kUdevRuleHint);
  } else {
    open_error_ = "FTDI adapter: " + std::to_string(found.size()) +
                  " devices match; choose one with serial=S or index=N:";
    for (std::size_t i = 0; i < found.size(); ++i) {
      open_error_ += "\n  index=" + std::to_string(i) + ": " + Describe(found[i]);
    }
  }

  bool claimed = false;
  if (chosen) {
    const std::string who = Describe(*chosen);
    auto fail = [&](const char* step) {
      open_error_ =
          "FTDI adapter " + who + ": " + step + " failed: " + ftdi_get_error_string(ftdi_);
      return false;
    };
    const int opened = ftdi_usb_open_dev(ftdi_, chosen->device);
    if (opened == kLibusbOpenFailed) {
      open_error_ = "FTDI adapter " + who + ": " + kUdevRuleHint;
    } else if (opened < 0) {
      fail("claiming the device (is another program using it?)");
    } else {
      claimed = (ftdi_usb_reset(ftdi_) == 0 || fail("reset")) &&
                (ftdi_tcioflush(ftdi_) == 0 || fail("flushing the buffers")) &&
                (ftdi_set_latency_timer(ftdi_, 1) == 0 || fail("setting the latency timer")) &&
                (ftdi_set_bitmode(ftdi_, 0x3F, BITMODE_SYNCBB) == 0 ||
                 fail("entering synchronous bit-bang mode")) &&
                (SetByteClock(options_.clock) || fail("setting the byte clock"));
      // All outputs low, and a first proof that bytes and samples flow.
      const uint8_t low = 0;
      if (claimed && !(Send(&low, 1) && FinishRead())) {
        claimed = fail("the first transfer");
      }
      if (!claimed) {
        if (read_) ftdi_transfer_data_cancel(std::exchange(read_, nullptr), nullptr);
        ftdi_usb_close(ftdi_);
      }
    }
    if (claimed) {
      std::fprintf(stderr, "FTDI adapter: opened %s at %u adapter bytes/s\n", who.c_str(),
                   byte_clock_);
    }
  }
  for (ftdi_device_list*& list : lists) ftdi_list_free(&list);
  return claimed;
}

bool FtdiAdapter::SetByteClock(uint32_t bytes_per_second) {
  const uint32_t value = bytes_per_second / kBytesPerBaudUnit;
  if (ftdi_set_baudrate(ftdi_, static_cast<int>(value)) != 0) return false;
  byte_clock_ = value * kBytesPerBaudUnit;
  return true;
}

uint32_t FtdiAdapter::Speed(int32_t speed) {
  if (!claimed_) return 0;
  return SetByteClock(speed == 3 ? options_.clock / 2 : options_.clock) ? 0 : 1;
}

void FtdiAdapter::ReportTransferFailure(const char* what) {
  // The chip link does not look at results; say it once, so that a run that fails for this
  // reason does not look like a chip fault only.
  if (!transfer_failed_) {
    std::fprintf(stderr, "FTDI adapter: %s failed: %s\n", what, ftdi_get_error_string(ftdi_));
  }
  transfer_failed_ = true;
}

bool FtdiAdapter::Send(const uint8_t* bytes, uint32_t count) {
  ftdi_transfer_control* write =
      ftdi_write_data_submit(ftdi_, const_cast<uint8_t*>(bytes), static_cast<int>(count));
  if (!write) {
    ReportTransferFailure("starting a write");
    return false;
  }
  // libftdi reads through one buffer of its own, so one read at a time: the previous bytes'
  // samples first (these bytes' samples, coming behind them, push them out in full packets),
  // then a read for these bytes, in flight while they go out.
  bool ok = FinishRead();
  if (samples_.size() < count) samples_.resize(count);
  read_ = ftdi_read_data_submit(ftdi_, samples_.data(), static_cast<int>(count));
  read_count_ = count;
  if (!read_) {
    ReportTransferFailure("starting a read");
    ftdi_transfer_data_cancel(write, nullptr);
    return false;
  }
  if (ftdi_transfer_data_done(write) != static_cast<int>(count)) {
    ReportTransferFailure("a write");
    ok = false;
  }
  return ok;
}

bool FtdiAdapter::FinishRead() {
  if (!read_) return true;
  const int got = ftdi_transfer_data_done(std::exchange(read_, nullptr));
  if (got == static_cast<int>(read_count_)) return true;
  ReportTransferFailure("a read");
  return false;
}

uint32_t FtdiAdapter::Write(const uint8_t* bytes, uint32_t count, uint32_t* written) {
  if (written) *written = 0;
  if (!claimed_ || count == 0) return 0;
  if (!Send(bytes, count)) return 1;
  last_output_ = bytes[count - 1];
  if (written) *written = count;
  return 0;
}

uint32_t FtdiAdapter::Read(uint8_t* input) {
  if (!claimed_) return 0;
  // The sample of a byte is the pin state before it: send the last output once more (no strobe
  // edge, nothing new on the bus) and its sample shows the chip's answer to all bytes so far.
  const uint8_t again = last_output_;
  if (!Send(&again, 1) || !FinishRead()) return 1;
  *input = samples_[0];
  return 0;
}

}  // namespace quelt
