// A stand-in for libftdi1.so.2 (tests put its folder first on LD_LIBRARY_PATH): an FTDI device in
// synchronous bit-bang mode driving the chip emulator; each byte put out samples the pins as they
// were before it. Samples go to the read in flight; with none in flight the device holds 512 of
// them, and where a real device would stall, the transfer fails. QUELT_FAKE_FTDI, read at each
// ftdi_new, items separated by ';' (others ignored): dev=VID:PID:SERIAL:DESCRIPTION (repeatable,
// in bus order); chip=OPTIONS as after "sim:" (large); denied (libusb_open() without permission).
#include <ftdi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "link/sim/sim_adapter.h"

namespace {

struct FakeDevice {
  unsigned vendor = 0, product = 0;
  std::string serial, description;
};

struct Transfer : ftdi_transfer_control {
  bool read = false;
};

struct Fake {
  std::vector<FakeDevice> devices;
  std::unique_ptr<quelt::SimAdapter> chip;
  bool denied = false, claimed = false, syncbb = false;
  uint8_t mask = 0, pins = 0;
  std::deque<uint8_t> samples;  // put out, for no read yet
  Transfer* read = nullptr;     // in flight
};

Fake* fake = nullptr;

void Configure() {
  delete fake;
  fake = new Fake;
  const char* env = std::getenv("QUELT_FAKE_FTDI");
  std::istringstream items(env ? env : "");
  std::string item, chip = "large", error;
  while (std::getline(items, item, ';')) {
    unsigned vendor = 0, product = 0;
    char serial[64] = "", description[128] = "";
    if (std::sscanf(item.c_str(), "dev=%x:%x:%63[^:]:%127[^\n]", &vendor, &product, serial,
                    description) == 4) {
      fake->devices.push_back({vendor, product, serial, description});
    } else if (item.starts_with("chip=")) {
      chip = item.substr(5);
    } else if (item == "denied") {
      fake->denied = true;
    }
  }
  if (!(fake->chip = quelt::SimAdapter::Create(chip, &error))) {
    std::fprintf(stderr, "fake libftdi: QUELT_FAKE_FTDI: %s\n", error.c_str());
    std::abort();
  }
  fake->chip->Open();
  fake->chip->EnableFastPaths(false);  // every byte decoded on its own, as it is put out
}

int Fail(ftdi_context* ftdi, int code, const char* text) {
  ftdi->error_str = text;
  return code;
}

// Hands samples to the read in flight.
void Deliver(Fake& f) {
  if (Transfer* r = f.read) {
    const int n = std::min<int>(r->size - r->offset, int(f.samples.size()));
    std::copy_n(f.samples.begin(), n, r->buf + r->offset);
    f.samples.erase(f.samples.begin(), f.samples.begin() + n);
    if ((r->offset += n) == r->size) r->completed = 1, f.read = nullptr;
  }
}

// Puts out the bytes of a write, unless the device would stall before taking them all.
void PutOut(Fake& f, Transfer* t) {
  const uint8_t* bytes = t->buf;
  const std::size_t count = std::size_t(t->size);
  const std::size_t room = 512 + (f.read ? std::size_t(f.read->size - f.read->offset) : 0);
  if (!f.syncbb || count + f.samples.size() > room) return;
  for (std::size_t i = 0; i < count; ++i) {
    uint8_t line = 0;
    f.chip->Read(&line);
    f.samples.push_back(uint8_t((f.pins & f.mask & 0x3F) | (line & 0x80)));
    f.chip->Write(&bytes[i], 1, nullptr);
    f.pins = bytes[i];
  }
  t->completed = 1;
  t->offset = t->size;
  Deliver(f);
}

ftdi_transfer_control* Submit(ftdi_context* ftdi, unsigned char* buf, int size, bool read) {
  Transfer* t = new Transfer{{0, buf, size, 0, ftdi, nullptr}, read};
  if (read) fake->read = t;
  Deliver(*fake);
  return t;
}

}  // namespace

extern "C" {

ftdi_context* ftdi_new(void) { return Configure(), new ftdi_context{}; }

int ftdi_usb_close(ftdi_context* ftdi) {
  if (ftdi->usb_dev) fake->claimed = false;
  ftdi->usb_dev = nullptr;
  return 0;
}

void ftdi_free(ftdi_context* ftdi) {
  ftdi_usb_close(ftdi);
  delete ftdi;
}

int ftdi_usb_find_all(ftdi_context*, ftdi_device_list** list, int vendor, int product) {
  int count = 0;
  *list = nullptr;
  for (auto d = fake->devices.rbegin(); d != fake->devices.rend(); ++d) {
    if (int(d->vendor) != vendor || int(d->product) != product) continue;
    *list = new ftdi_device_list{*list, reinterpret_cast<libusb_device*>(&*d)};
    ++count;
  }
  return count;
}

void ftdi_list_free(ftdi_device_list** list) {
  while (*list) delete std::exchange(*list, (*list)->next);
}

int ftdi_usb_get_strings(ftdi_context* ftdi, libusb_device* dev, char*, int, char* description,
                         int desc_len, char* serial, int serial_len) {
  if (fake->denied) return Fail(ftdi, -4, "libusb_open() failed");
  const FakeDevice& d = *reinterpret_cast<FakeDevice*>(dev);
  std::snprintf(description, desc_len, "%s", d.description.c_str());
  std::snprintf(serial, serial_len, "%s", d.serial.c_str());
  return 0;
}

int ftdi_usb_open_dev(ftdi_context* ftdi, libusb_device* dev) {
  if (fake->denied) return Fail(ftdi, -4, "libusb_open() failed");
  if (fake->claimed) return Fail(ftdi, -5, "unable to claim usb device");
  fake->claimed = true;
  ftdi->usb_dev = reinterpret_cast<libusb_device_handle*>(dev);
  return 0;
}

int ftdi_tcioflush(ftdi_context*) {
  fake->samples.clear();
  return 0;
}

int ftdi_usb_reset(ftdi_context* ftdi) { return ftdi_tcioflush(ftdi); }

int ftdi_set_latency_timer(ftdi_context* ftdi, unsigned char latency) {
  return latency < 1 ? Fail(ftdi, -1, "latency out of range. Only valid for 1-255") : 0;
}

int ftdi_set_bitmode(ftdi_context* ftdi, unsigned char bitmask, unsigned char mode) {
  ftdi->bitbang_enabled = mode != BITMODE_RESET;
  fake->syncbb = mode == BITMODE_SYNCBB;
  fake->mask = bitmask;
  return 0;
}

int ftdi_set_baudrate(ftdi_context* ftdi, int baudrate) {
  const int rate = baudrate * (ftdi->bitbang_enabled ? 4 : 1);
  fake->chip->Speed(rate <= 500000 ? 3 : 2);  // two ticks a byte at half the clock
  return 0;
}

ftdi_transfer_control* ftdi_write_data_submit(ftdi_context* ftdi, unsigned char* buf, int size) {
  return Submit(ftdi, buf, size, false);
}

ftdi_transfer_control* ftdi_read_data_submit(ftdi_context* ftdi, unsigned char* buf, int size) {
  return Submit(ftdi, buf, size, true);
}

// A write goes out here, with the read of its samples (submitted by now) in flight.
int ftdi_transfer_data_done(ftdi_transfer_control* tc) {
  Transfer* t = static_cast<Transfer*>(tc);
  if (!t->read && t->ftdi->usb_dev) PutOut(*fake, t);
  const int done = t->completed ? t->offset : -1;
  if (done < 0) Fail(t->ftdi, -1, "usb bulk transfer timed out (device stalled)");
  ftdi_transfer_data_cancel(t, nullptr);
  return done;
}

void ftdi_transfer_data_cancel(ftdi_transfer_control* tc, struct timeval*) {
  if (fake->read == tc) fake->read = nullptr;
  delete static_cast<Transfer*>(tc);
}

const char* ftdi_get_error_string(ftdi_context* ftdi) {
  return ftdi->error_str ? ftdi->error_str : "";
}

}  // extern "C"
