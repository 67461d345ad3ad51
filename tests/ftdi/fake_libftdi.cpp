// A stand-in for libftdi1.so.2: the calls the FTDI backend makes, answered by a simulated FTDI
// device in synchronous bit-bang mode that drives the chip emulator. Tests put its folder first
// on LD_LIBRARY_PATH; the shipped binaries link the real library and hold no switch for it.
//
// The device behaves as FTDI documents it: each byte from the host is put out only while the
// sample buffer has room, and its sample is the pin state from before the byte. Samples go back
// in USB packets of a few bytes. Where a real device would stall until libftdi's 5 s timeout (no
// room for samples and nobody reading them, or a read waiting for samples that never come), a
// transfer here fails at once.
//
// QUELT_FAKE_FTDI configures it (read at each ftdi_new), items separated by ';':
//   dev=VID:PID:SERIAL:DESCRIPTION  a device on the bus (repeatable, in bus order)
//   chip=OPTIONS    the chip behind the opened device, as after "sim:" (default: large)
//   rx=N, tx=N      the device's buffers: bytes from the host, samples to it (128, 384)
//   packet=N        samples per USB packet (62)
//   latency=US      the latency timer, in microseconds (0): fewer samples than a packet holds
//                   go to the host only once this long has passed since they began to wait
//   pace            put bytes out at the byte clock in real time
//   denied          opening a device fails as libusb_open() does without permission
// The chip counts one tick per byte at the default clock of 1,000,000 bytes/s and two at half of
// it or slower, as the emulator does at speeds 2 and 3.
#include <ftdi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/sim/flash_store.h"
#include "link/sim/sim_chip.h"
#include "link/sim/sim_options.h"

namespace {

using Clock = std::chrono::steady_clock;

struct FakeDevice {
  uint16_t vendor = 0;
  uint16_t product = 0;
  std::string serial;
  std::string description;
};

struct Transfer : ftdi_transfer_control {
  bool read = false;
};

struct Fake {
  std::vector<FakeDevice> devices;
  quelt::SimOptions chip_options;
  std::size_t rx_size = 128, tx_size = 384, packet = 62;
  std::chrono::microseconds latency{0};
  bool pace = false, denied = false;

  quelt::FlashStore flash;
  std::vector<uint8_t> bad_masks;
  std::unique_ptr<quelt::SimChip> chip;
  const FakeDevice* claimed = nullptr;
  uint64_t opens = 0, bytes_out = 0;

  bool syncbb = false;
  uint8_t mask = 0, pins = 0;
  uint64_t rate = 0;
  std::vector<uint8_t> rx, tx, host;  // host: samples received, not yet read
  std::deque<Transfer*> writes, reads;
  Clock::time_point next_due{}, tx_since{};
  bool idle = true;
};

Fake* fake = nullptr;

[[noreturn]] void Refuse(const std::string& why) {
  std::fprintf(stderr, "fake libftdi: QUELT_FAKE_FTDI: %s\n", why.c_str());
  std::abort();
}

void Configure() {
  delete fake;
  fake = new Fake;
  const char* env = std::getenv("QUELT_FAKE_FTDI");
  std::string text = env ? env : "";
  std::string chip = "large";
  while (!text.empty()) {
    const std::size_t end = text.find(';');
    const std::string item = text.substr(0, end);
    text = end == std::string::npos ? "" : text.substr(end + 1);
    const std::size_t eq = item.find('=');
    const std::string name = item.substr(0, eq),
                      value = eq == std::string::npos ? "" : item.substr(eq + 1);
    if (name == "dev") {
      FakeDevice d;
      char serial[64] = "", description[128] = "";
      unsigned vendor = 0, product = 0;
      if (std::sscanf(value.c_str(), "%x:%x:%63[^:]:%127[^\n]", &vendor, &product, serial,
                      description) != 4) {
        Refuse("bad " + item);
      }
      fake->devices.push_back({uint16_t(vendor), uint16_t(product), serial, description});
    } else if (name == "chip") {
      chip = value;
    } else if (name == "rx" || name == "tx" || name == "packet" || name == "latency") {
      const uint64_t n = std::strtoull(value.c_str(), nullptr, 10);
      if (n == 0) Refuse("bad " + item);
      if (name == "rx") fake->rx_size = n;
      if (name == "tx") fake->tx_size = n;
      if (name == "packet") fake->packet = n;
      if (name == "latency") fake->latency = std::chrono::microseconds(n);
    } else if (item == "pace" || item == "denied") {
      (item == "pace" ? fake->pace : fake->denied) = true;
    } else if (!item.empty()) {
      Refuse("unknown " + item);
    }
  }
  std::string error;
  quelt::SimOptions& o = fake->chip_options;
  if (!quelt::ParseSimOptions(chip, &o, &error)) Refuse(error);
  if (o.type == quelt::SimChipType::None) return;
  const uint32_t size = quelt::SimChipSize(o.type);
  if (o.flash_file.empty()) {
    fake->flash.InMemory(size);
  } else if (!fake->flash.MapFile(o.flash_file, size, &error)) {
    Refuse(error);
  }
  quelt::SimChipConfig config;
  config.type = o.type;
  config.erase_polls = o.erase_polls;
  config.program_ticks = o.slow ? 40 : 20;
  if (!o.bad.empty()) {
    fake->bad_masks.assign(size, 0);
    for (const quelt::SimBadCell& cell : o.bad) fake->bad_masks[cell.address] |= cell.mask;
    config.bad_masks = fake->bad_masks.data();
  }
  fake->chip = std::make_unique<quelt::SimChip>(config, fake->flash.data());
  fake->chip->EnableFastPaths(false);  // every byte decoded on its own, as it is put out
}

int Fail(ftdi_context* ftdi, int code, const char* text) {
  ftdi->error_str = text;
  return code;
}

uint8_t Sample(const Fake& f) {
  bool line = f.chip && f.chip->DataLine();
  if (f.chip_options.stuck != quelt::SimOptions::Stuck::No) {
    line = f.chip_options.stuck == quelt::SimOptions::Stuck::High;
  }
  return uint8_t((f.pins & f.mask & 0x3F) | (line ? 0x80 : 0));
}

// The device puts out what it may: all it holds, or under `pace` what the clock has come to.
std::size_t PutOut(Fake& f) {
  std::size_t n = std::min(f.rx.size(), f.tx_size - f.tx.size());
  if (!f.syncbb || n == 0) return 0;
  if (f.pace) {
    const auto now = Clock::now();
    const auto period = std::chrono::nanoseconds(1000000000 / std::max<uint64_t>(f.rate, 1));
    if (f.idle) f.next_due = std::max(f.next_due, now);
    f.idle = false;
    n = now < f.next_due ? 0 : std::min<std::size_t>(n, (now - f.next_due) / period + 1);
    f.next_due += n * period;
  }
  if (n > 0 && f.tx.empty()) f.tx_since = Clock::now();
  const std::size_t at = f.tx.size();
  f.tx.resize(at + n);
  for (std::size_t i = 0; i < n; ++i) {
    f.tx[at + i] = Sample(f);
    if (f.chip) f.chip->Feed(&f.rx[i], 1);
    f.pins = f.rx[i];
  }
  f.rx.erase(f.rx.begin(), f.rx.begin() + n);
  f.bytes_out += n;
  f.idle = f.rx.empty() && f.writes.empty();  // nothing more from the host: the clock waits
  return n;
}

// One step of the bus: host bytes into the device, bytes out, one packet of samples back.
bool Step(Fake& f) {
  bool moved = false;
  if (!f.writes.empty() && f.rx.size() < f.rx_size) {
    Transfer* w = f.writes.front();
    const int n = std::min<int>(w->size - w->offset, int(f.rx_size - f.rx.size()));
    f.rx.insert(f.rx.end(), w->buf + w->offset, w->buf + w->offset + n);
    w->offset += n;
    if (w->offset == w->size) {
      w->completed = 1;
      f.writes.pop_front();
    }
    moved = true;
  }
  moved = PutOut(f) > 0 || moved;
  const bool flush = f.tx.size() >= f.packet || Clock::now() >= f.tx_since + f.latency;
  if (f.reads.empty()) return moved;  // no read in flight: nothing comes back
  if (!f.tx.empty() && flush) {       // one USB packet; what the read does not take, libftdi keeps
    const std::size_t n = std::min(f.packet, f.tx.size());
    f.host.insert(f.host.end(), f.tx.begin(), f.tx.begin() + n);
    f.tx.erase(f.tx.begin(), f.tx.begin() + n);
    f.tx_since = Clock::now();
    moved = true;
  }
  Transfer* r = f.reads.front();
  const int n = std::min(int(f.host.size()), r->size - r->offset);
  std::copy_n(f.host.begin(), n, r->buf + r->offset);
  f.host.erase(f.host.begin(), f.host.begin() + n);
  r->offset += n;
  if (r->offset == r->size) {
    r->completed = 1;
    f.reads.pop_front();
  }
  return moved || n > 0;
}

void Forget(Transfer* t) {
  auto& queue = t->read ? fake->reads : fake->writes;
  queue.erase(std::remove(queue.begin(), queue.end(), t), queue.end());
  delete t;
}

ftdi_transfer_control* Submit(ftdi_context* ftdi, unsigned char* buf, int size, bool read) {
  if (!ftdi->usb_dev) return nullptr;
  Transfer* t = new Transfer{};
  t->buf = buf;
  t->size = size;
  t->ftdi = ftdi;
  t->read = read;
  (read ? fake->reads : fake->writes).push_back(t);
  if (size == 0) t->completed = 1;
  return t;
}

}  // namespace

extern "C" {

// For tests, through dlsym: devices opened and adapter bytes put out since the last ftdi_new.
uint64_t quelt_fake_ftdi_opens() { return fake ? fake->opens : 0; }
uint64_t quelt_fake_ftdi_bytes_out() { return fake ? fake->bytes_out : 0; }

ftdi_context* ftdi_new(void) {
  Configure();
  ftdi_context* ftdi = new ftdi_context{};
  ftdi->usb_read_timeout = ftdi->usb_write_timeout = 5000;
  return ftdi;
}

int ftdi_usb_close(ftdi_context* ftdi) {
  if (ftdi->usb_dev) fake->claimed = nullptr;
  ftdi->usb_dev = nullptr;
  return 0;
}

void ftdi_free(ftdi_context* ftdi) {
  ftdi_usb_close(ftdi);
  delete ftdi;
}

int ftdi_usb_find_all(ftdi_context*, ftdi_device_list** list, int vendor, int product) {
  int count = 0;
  ftdi_device_list** tail = list;
  *list = nullptr;
  for (FakeDevice& d : fake->devices) {
    if (d.vendor != vendor || d.product != product) continue;
    *tail = new ftdi_device_list{nullptr, reinterpret_cast<libusb_device*>(&d)};
    tail = &(*tail)->next;
    ++count;
  }
  return count;
}

void ftdi_list_free(ftdi_device_list** list) {
  while (*list) delete std::exchange(*list, (*list)->next);
}

int ftdi_usb_get_strings(ftdi_context* ftdi, libusb_device* dev, char* manufacturer, int mnf_len,
                         char* description, int desc_len, char* serial, int serial_len) {
  if (fake->denied) return Fail(ftdi, -4, "libusb_open() failed");
  const FakeDevice& d = *reinterpret_cast<FakeDevice*>(dev);
  if (manufacturer) std::snprintf(manufacturer, mnf_len, "FTDI");
  if (description) std::snprintf(description, desc_len, "%s", d.description.c_str());
  if (serial) std::snprintf(serial, serial_len, "%s", d.serial.c_str());
  return 0;
}

int ftdi_usb_open_dev(ftdi_context* ftdi, libusb_device* dev) {
  if (fake->denied) return Fail(ftdi, -4, "libusb_open() failed");
  if (fake->claimed) {
    return Fail(ftdi, -5,
                "unable to claim usb device. Make sure the default FTDI driver is not in use");
  }
  const FakeDevice* d = reinterpret_cast<FakeDevice*>(dev);
  fake->claimed = d;
  ++fake->opens;
  ftdi->usb_dev = reinterpret_cast<libusb_device_handle*>(dev);
  ftdi->type = d->product == 0x6014 ? TYPE_232H : d->product == 0x6010 ? TYPE_2232H : TYPE_R;
  return 0;
}

int ftdi_usb_reset(ftdi_context* ftdi) { return ftdi_tcioflush(ftdi); }

int ftdi_tcioflush(ftdi_context* ftdi) {
  if (!ftdi->usb_dev) return Fail(ftdi, -3, "USB device unavailable");
  fake->rx.clear();
  fake->tx.clear();
  fake->host.clear();
  return 0;
}

int ftdi_set_latency_timer(ftdi_context* ftdi, unsigned char latency) {
  if (latency < 1) return Fail(ftdi, -1, "latency out of range. Only valid for 1-255");
  return ftdi->usb_dev ? 0 : Fail(ftdi, -3, "USB device unavailable");
}

int ftdi_set_bitmode(ftdi_context* ftdi, unsigned char bitmask, unsigned char mode) {
  if (!ftdi->usb_dev) return Fail(ftdi, -2, "USB device unavailable");
  ftdi->bitbang_enabled = mode != BITMODE_RESET;
  ftdi->bitbang_mode = mode;
  fake->syncbb = mode == BITMODE_SYNCBB;
  fake->mask = bitmask;
  return 0;
}

int ftdi_set_baudrate(ftdi_context* ftdi, int baudrate) {
  if (!ftdi->usb_dev) return Fail(ftdi, -3, "USB device unavailable");
  if (baudrate <= 0) return Fail(ftdi, -1, "Silly baudrate <= 0.");
  ftdi->baudrate = baudrate;
  fake->rate = uint64_t(baudrate) * (ftdi->bitbang_enabled ? 4 : 1);
  if (fake->chip) fake->chip->SetSpeed(fake->rate <= 500000 ? 3 : 2);
  return 0;
}

ftdi_transfer_control* ftdi_write_data_submit(ftdi_context* ftdi, unsigned char* buf, int size) {
  return Submit(ftdi, buf, size, false);
}

ftdi_transfer_control* ftdi_read_data_submit(ftdi_context* ftdi, unsigned char* buf, int size) {
  return Submit(ftdi, buf, size, true);
}

int ftdi_transfer_data_done(ftdi_transfer_control* tc) {
  Transfer* t = static_cast<Transfer*>(tc);
  while (!t->completed) {
    if (Step(*fake)) continue;
    if (fake->pace && fake->syncbb && !fake->rx.empty() && fake->tx.size() < fake->tx_size) {
      std::this_thread::sleep_until(fake->next_due);
      continue;
    }
    if (!fake->reads.empty() && !fake->tx.empty()) {  // the latency timer will send them
      std::this_thread::sleep_until(fake->tx_since + fake->latency);
      continue;
    }
    Fail(t->ftdi, -1,
         t->read ? "usb bulk read timed out (device stalled)"
                 : "usb bulk write timed out (device stalled)");
    Forget(t);
    return -1;
  }
  const int done = t->offset;
  Forget(t);
  return done;
}

void ftdi_transfer_data_cancel(ftdi_transfer_control* tc, struct timeval*) {
  Forget(static_cast<Transfer*>(tc));
}

const char* ftdi_get_error_string(ftdi_context* ftdi) {
  return ftdi->error_str ? ftdi->error_str : "";
}

}  // extern "C"
