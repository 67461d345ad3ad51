// A stand-in for libftdi1.so.2 (tests put its folder first on LD_LIBRARY_PATH): an FTDI device in
// synchronous bit-bang mode driving the chip emulator; each byte put out samples the pins as they
// were before it. Samples go to the reads in flight, oldest first; with none in flight the device
// holds `tx` samples and `rx` bytes, and where a real device would stall, the transfer fails. A
// read that ends on a packet not full waits for the latency timer. QUELT_FAKE_FTDI, read at each
// ftdi_new, items separated by ';': dev=VID:PID:SERIAL:DESCRIPTION (repeatable, in bus order);
// chip=OPTIONS as after "sim:" (large); rx=N, tx=N (128, 384); packet=N (62); latency=US (0);
// pace (bytes go out at the byte clock in real time); denied (libusb_open() without permission).
#include <ftdi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/sim/sim_adapter.h"

namespace {

using Clock = std::chrono::steady_clock;

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
  std::size_t rx_size = 128, tx_size = 384, packet = 62;
  std::chrono::microseconds latency{0};
  bool pace = false, denied = false, claimed = false, syncbb = false;
  uint64_t bytes_out = 0, rate = 0;
  uint8_t mask = 0, pins = 0;
  std::deque<uint8_t> samples;  // put out, for no read yet
  std::deque<Transfer*> reads;
  Clock::time_point next_due{}, last_out{};
};

Fake* fake = nullptr;

void Configure() {
  delete fake;
  fake = new Fake;
  const char* env = std::getenv("QUELT_FAKE_FTDI");
  std::istringstream items(env ? env : "");
  std::string item, chip = "large", error;
  while (std::getline(items, item, ';')) {
    const std::size_t eq = item.find('=');
    const std::string name = item.substr(0, eq), value = item.substr(eq == item.npos ? 0 : eq + 1);
    const uint64_t n = std::strtoull(value.c_str(), nullptr, 10);
    FakeDevice d;
    char serial[64] = "", description[128] = "";
    if (name == "dev" && std::sscanf(value.c_str(), "%x:%x:%63[^:]:%127[^\n]", &d.vendor,
                                     &d.product, serial, description) == 4) {
      fake->devices.push_back({d.vendor, d.product, serial, description});
    } else if (name == "chip") {
      chip = value;
    } else if (n > 0 && (name == "rx" || name == "tx" || name == "packet")) {
      (name == "rx" ? fake->rx_size : name == "tx" ? fake->tx_size : fake->packet) = n;
    } else if (n > 0 && name == "latency") {
      fake->latency = std::chrono::microseconds(n);
    } else if (item == "pace" || item == "denied") {
      (item == "pace" ? fake->pace : fake->denied) = true;
    } else if (!item.empty()) {
      error = "bad " + item;
    }
  }
  if (error.empty() && (fake->chip = quelt::SimAdapter::Create(chip, &error))) {
    fake->chip->Open();
    fake->chip->EnableFastPaths(false);  // every byte decoded on its own, as it is put out
  } else {
    std::fprintf(stderr, "fake libftdi: QUELT_FAKE_FTDI: %s\n", error.c_str());
    std::abort();
  }
}

int Fail(ftdi_context* ftdi, int code, const char* text) {
  ftdi->error_str = text;
  return code;
}

// Hands samples to the reads in flight, oldest first.
void Deliver(Fake& f) {
  while (!f.reads.empty() && !f.samples.empty()) {
    Transfer* r = f.reads.front();
    const int n = std::min<int>(r->size - r->offset, int(f.samples.size()));
    std::copy_n(f.samples.begin(), n, r->buf + r->offset);
    f.samples.erase(f.samples.begin(), f.samples.begin() + n);
    if ((r->offset += n) == r->size) r->completed = 1, f.reads.pop_front();
  }
}

// Puts out the bytes of a write: false where the device would stall before taking them all.
bool PutOut(Fake& f, const uint8_t* bytes, std::size_t count) {
  std::size_t room = f.rx_size + f.tx_size;
  for (const Transfer* r : f.reads) room += std::size_t(r->size - r->offset);
  if (!f.syncbb || count + f.samples.size() > room) return false;
  if (f.pace) {
    f.next_due = std::max(f.next_due, Clock::now()) +
                 count * std::chrono::nanoseconds(1000000000 / std::max<uint64_t>(f.rate, 1));
    std::this_thread::sleep_until(f.next_due);
  }
  for (std::size_t i = 0; i < count; ++i) {
    uint8_t line = 0;
    f.chip->Read(&line);
    f.samples.push_back(uint8_t((f.pins & f.mask & 0x3F) | (line & 0x80)));
    f.chip->Write(&bytes[i], 1, nullptr);
    f.pins = bytes[i];
  }
  f.bytes_out += count;
  f.last_out = Clock::now();
  Deliver(f);
  return true;
}

ftdi_transfer_control* Submit(ftdi_context* ftdi, unsigned char* buf, int size, bool read) {
  Transfer* t = new Transfer{};
  t->ftdi = ftdi;
  t->buf = buf;
  t->size = size;
  t->read = read;
  if (read) fake->reads.push_back(t);
  Deliver(*fake);
  return t;
}

}  // namespace

extern "C" {

// For benchmarks, through dlsym: adapter bytes put out since the last ftdi_new.
uint64_t quelt_fake_ftdi_bytes_out() { return fake ? fake->bytes_out : 0; }

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
  if (baudrate <= 0) return Fail(ftdi, -1, "Silly baudrate <= 0.");
  fake->rate = uint64_t(baudrate) * (ftdi->bitbang_enabled ? 4 : 1);
  fake->chip->Speed(fake->rate <= 500000 ? 3 : 2);  // two ticks a byte at half the clock
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
  if (!t->read && t->ftdi->usb_dev && PutOut(*fake, t->buf, std::size_t(t->size))) {
    t->completed = 1;
    t->offset = t->size;
  }
  const int done = t->completed ? t->offset : -1;
  if (done < 0) Fail(t->ftdi, -1, "usb bulk transfer timed out (device stalled)");
  if (t->read && t->completed && t->size % fake->packet != 0)  // the latency timer sends the last
    std::this_thread::sleep_until(fake->last_out + fake->latency);
  ftdi_transfer_data_cancel(t, nullptr);
  return done;
}

void ftdi_transfer_data_cancel(ftdi_transfer_control* tc, struct timeval*) {
  auto& reads = fake->reads;
  reads.erase(std::remove(reads.begin(), reads.end(), tc), reads.end());
  delete static_cast<Transfer*>(tc);
}

const char* ftdi_get_error_string(ftdi_context* ftdi) {
  return ftdi->error_str ? ftdi->error_str : "";
}

}  // extern "C"
