#include "link/sim/sim_chip.h"

#include <cstring>

namespace quelt {
namespace {

using Unit = SimChipState::Unit;
using Mode = SimChipState::Mode;

constexpr uint32_t kCommandA = 0xAAA;
constexpr uint32_t kCommandB = 0x555;
constexpr uint8_t kShortStart = 0x0C;
constexpr uint8_t kLongStart = 0x0D;

// The bus symbol latched by an adapter byte: D0..D3 from bits 0..3, D4 from bit 5.
constexpr uint8_t SymbolOf(uint8_t byte) {
  return static_cast<uint8_t>((byte & 0x0F) | ((byte & 0x20) >> 1));
}

// A symbol's two adapter bytes at p: strobe low with bits 6, 7 clear, then the same with the
// strobe high.
inline bool IsSymbolPair(const uint8_t* p) { return (p[0] & 0xD0) == 0 && p[1] == (p[0] | 0x10); }

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

constexpr uint64_t kHold64 = 0x1010101010101010ull;

bool AllBytes(const uint8_t* p, std::size_t n, uint8_t value) {
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] != value) return false;
  }
  return true;
}

}  // namespace

uint32_t SimChipSize(SimChipType type) {
  switch (type) {
    case SimChipType::Base:
      return 0x20000;
    case SimChipType::Large:
    case SimChipType::Alt:
      return 0x200000;
    case SimChipType::None:
      return 0;
  }
  return 0;
}

SimChip::SimChip(const SimChipConfig& config, uint8_t* flash)
    : config_(config), flash_(flash), mask_(SimChipSize(config.type) - 1) {}

void SimChip::SetSpeed(int32_t speed) { state_.ticks_per_byte = speed == 3 ? 2 : 1; }

void SimChip::Feed(const uint8_t* bytes, std::size_t count) {
  std::size_t i = 0;
  while (i < count) {
    if (fast_ && state_.unit == Unit::Idle && !state_.deaf && !state_.erase_busy) {
      std::size_t used = 0;
      const uint8_t b = bytes[i];
      if (b == 0x0D) {
        used = FastCompare(bytes + i, count - i);
      } else if (b == 0x05) {
        if (config_.type == SimChipType::Base) used = FastBase(bytes + i, count - i);
      } else if (b == 0x2D || b == 0x25) {
        if (LongProtocol() && state_.mode == Mode::Bypass) used = FastLarge(bytes + i, count - i);
      }
      if (used) {
        fast_groups_ += used / (b == 0x0D ? 6 : 40);
        i += used;
        continue;
      }
    }
    Step(bytes[i++]);
  }
  Settle();
}

void SimChip::Settle() {
  if (state_.prog_pending && state_.ticks - state_.prog_tick >= config_.program_ticks) {
    state_.prog_pending = false;
    ApplyProgram();
  }
}

void SimChip::Step(uint8_t byte) {
  state_.ticks += static_cast<uint64_t>(state_.ticks_per_byte);
  const bool strobe = (byte & 0x10) != 0;
  const bool rising = strobe && !state_.strobe;
  state_.strobe = strobe;
  if (rising) Latch(SymbolOf(byte));
}

void SimChip::Latch(uint8_t symbol) {
  ResolveProgram(state_.ticks);
  state_.data_line = false;
  if (state_.deaf) {
    const uint8_t own = LongProtocol() ? kLongStart : kShortStart;
    if (state_.deaf_last[0] == 0x1F && state_.deaf_last[1] == own && symbol == 0x12) {
      state_.deaf = false;
      state_.deaf_last[0] = state_.deaf_last[1] = 0;
      StartUnit();
    } else {
      state_.deaf_last[0] = state_.deaf_last[1];
      state_.deaf_last[1] = symbol;
    }
    return;
  }
  if (state_.unit == Unit::Idle) {
    CommandPosition(symbol);
  } else {
    ContinueUnit(symbol);
  }
}

void SimChip::CommandPosition(uint8_t symbol) {
  if (symbol == 0x00) return;
  if (symbol == 0x1F || symbol == 0x0D) {
    state_.id_enter_count = state_.id_leave_count = 0;
    state_.after_address = false;
    state_.erase_count = 0;
    if (symbol == 0x1F) {
      state_.unit = Unit::Start;
      state_.unit_pos = 0;
    } else {
      state_.loaded = LoadByte();
      state_.data_line = (state_.loaded & 1) != 0;
      state_.unit = Unit::Read;
      state_.unit_pos = 0;
    }
    return;
  }
  if (LongProtocol()) {
    LongCommand(symbol);
  } else {
    ShortCommand(symbol);
  }
}

void SimChip::ShortCommand(uint8_t symbol) {
  SimChipState& s = state_;
  switch (symbol) {
    case 0x0E:
      s.id_leave_count = 0;
      s.after_address = false;
      s.erase_count = 0;
      if (++s.id_enter_count == 7) {
        s.id_mode = true;
        s.id_enter_count = 0;
      }
      return;
    case 0x1B:
      s.id_enter_count = 0;
      s.after_address = false;
      s.erase_count = 0;
      if (++s.id_leave_count == 3) {
        s.id_mode = false;
        s.id_leave_count = 0;
      }
      return;
    case 0x15:
      s.id_enter_count = s.id_leave_count = 0;
      if (!s.after_address) {
        s.erase_count = 0;
        return;
      }
      if (++s.erase_count == 13) {
        s.after_address = false;
        s.erase_count = 0;
        StartErase(s.address);
      }
      return;
    default:
      break;
  }
  s.id_enter_count = s.id_leave_count = 0;
  s.after_address = false;
  s.erase_count = 0;
  if (symbol == 0x11) {
    s.unit = Unit::Address;
    s.unit_pos = 0;
  } else if (symbol == 0x05) {
    s.unit = Unit::Program;
    s.unit_pos = 0;
  }
}

void SimChip::LongCommand(uint8_t symbol) {
  SimChipState& s = state_;
  if (symbol == 0x01) {
    s.data_line = s.pass;
    s.unit = Unit::Address;
    s.unit_pos = 0;
  } else if (symbol >= 0x10 && symbol <= 0x1E) {
    if (symbol & 0x08) s.address = (s.address + 1) & mask_;
    s.unit = Unit::Cycle;
    s.unit_syms[0] = symbol;
    s.unit_pos = 1;
  }
}

void SimChip::ContinueUnit(uint8_t symbol) {
  SimChipState& s = state_;
  switch (s.unit) {
    case Unit::Idle:
      CommandPosition(symbol);
      return;
    case Unit::Start: {
      s.unit_syms[s.unit_pos++] = symbol;
      if (s.unit_pos < 2) return;
      const uint8_t m = s.unit_syms[0];
      EndUnit();
      if (symbol != 0x12 || (m != kShortStart && m != kLongStart)) return;
      const uint8_t own = LongProtocol() ? kLongStart : kShortStart;
      if (m == own) {
        StartUnit();
      } else {
        s.deaf = true;
        s.deaf_last[0] = s.deaf_last[1] = 0;
        s.data_line = false;
      }
      return;
    }
    case Unit::Address: {
      s.unit_syms[s.unit_pos++] = symbol;
      const uint8_t* a = s.unit_syms;
      if (LongProtocol()) {
        if (s.unit_pos < 5) return;
        const uint32_t address = uint32_t{a[0]} << 20 | uint32_t{a[1]} << 15 |
                                 uint32_t{a[2]} << 10 | uint32_t{a[3]} << 5 | a[4];
        EndUnit();
        s.address = address & mask_;
        s.pass = true;
      } else {
        if (s.unit_pos < 4) return;
        const uint32_t address =
            uint32_t{a[0]} << 15 | uint32_t{a[1]} << 10 | uint32_t{a[2]} << 5 | a[3];
        EndUnit();
        s.address = address & mask_;
        s.after_address = true;
      }
      return;
    }
    case Unit::Program: {
      s.unit_syms[s.unit_pos++] = symbol;
      if (s.unit_pos < 8) return;
      const uint8_t* a = s.unit_syms;
      const uint8_t data = static_cast<uint8_t>(((a[0] >> 2) & 7) << 5 | a[7]);
      const uint32_t address =
          (uint32_t{a[0] & 3u} << 15 | uint32_t{a[1]} << 10 | uint32_t{a[2]} << 5 | a[3]) & mask_;
      EndUnit();
      if (!s.erase_busy) StartProgram(address, data);
      return;
    }
    case Unit::Cycle: {
      s.unit_syms[s.unit_pos++] = symbol;
      if (s.unit_pos < 3) return;
      const uint8_t value = static_cast<uint8_t>((s.unit_syms[0] & 7) << 5 | s.unit_syms[1]);
      EndUnit();
      WriteCycle(value);
      return;
    }
    case Unit::Read:
    case Unit::Shift:
      ContinueRead(symbol);
      return;
  }
}

// After 0x0D: a compare (a symbol with D4 clear, then one with D4 set) or a byte shifted out by
// 0x00 symbols. Anything else ends the unit and is taken at command position.
void SimChip::ContinueRead(uint8_t symbol) {
  SimChipState& s = state_;
  if (s.unit == Unit::Read && s.unit_pos == 0) {
    if (symbol & 0x10) {
      EndUnit();
      CommandPosition(symbol);
      return;
    }
    s.unit_syms[0] = symbol;
    s.unit_pos = 1;
    if (symbol == 0) {
      s.shifts = 1;
      s.data_line = (s.loaded >> 1) & 1;
    }
    return;
  }
  if (s.unit == Unit::Read) {
    const uint8_t first = s.unit_syms[0];
    if (symbol & 0x10) {
      const uint8_t value = static_cast<uint8_t>(first << 4 | (symbol & 0x0F));
      if (flash_[s.address] != value) s.pass = false;
      s.address = (s.address + 1) & mask_;
      EndUnit();
      return;
    }
    if (first == 0 && symbol == 0) {
      s.unit = Unit::Shift;
      s.shifts = 2;
      s.data_line = (s.loaded >> 2) & 1;
      return;
    }
    EndUnit();
    if (first != 0) {
      CommandPosition(first);
      s.data_line = false;
      if (s.unit != Unit::Idle) {
        ContinueUnit(symbol);
        return;
      }
    }
    CommandPosition(symbol);
    return;
  }
  // Shifting.
  if (symbol != 0) {
    EndUnit();
    CommandPosition(symbol);
    return;
  }
  if (++s.shifts == 8) {
    s.address = (s.address + 1) & mask_;
    EndUnit();
  } else {
    s.data_line = (s.loaded >> s.shifts) & 1;
  }
}

void SimChip::EndUnit() {
  state_.unit = Unit::Idle;
  state_.unit_pos = 0;
  std::memset(state_.unit_syms, 0, sizeof state_.unit_syms);
  state_.loaded = 0;
  state_.shifts = 0;
}

// A start unit of the chip's own protocol.
void SimChip::StartUnit() {
  SimChipState& s = state_;
  s.id_mode = false;
  s.mode = Mode::Read;
  s.unlock = 0;
  s.pass = true;
  s.id_enter_count = s.id_leave_count = 0;
  s.after_address = false;
  s.erase_count = 0;
}

// One write cycle of the long protocol at the current address, in the command sequences of
// such flash. Cycles out of sequence are ignored.
void SimChip::WriteCycle(uint8_t v) {
  SimChipState& s = state_;
  if (s.erase_busy) return;
  const uint32_t a = s.address;
  switch (s.mode) {
    case Mode::Read:
    case Mode::Autoselect:
      if (v == 0xF0) {
        s.mode = Mode::Read;
        s.unlock = 0;
        return;
      }
      if (s.mode == Mode::Autoselect) return;
      if (s.unlock == 1 && a == kCommandB && v == 0x55) {
        s.unlock = 2;
        return;
      }
      if (s.unlock == 2 && a == kCommandA) {
        s.unlock = 0;
        switch (v) {
          case 0x90:
            s.mode = Mode::Autoselect;
            return;
          case 0x80:
            s.mode = Mode::EraseSetup;
            return;
          case 0x20:
            s.mode = Mode::Bypass;
            return;
          case 0xA0:
            s.mode = Mode::ProgramOnce;
            return;
          default:
            break;
        }
      }
      s.unlock = (a == kCommandA && v == 0xAA) ? 1 : 0;
      return;
    case Mode::ProgramOnce:
      s.mode = Mode::Read;
      StartProgram(a, v);
      return;
    case Mode::EraseSetup:
      if (s.unlock == 0 && a == kCommandA && v == 0xAA) {
        s.unlock = 1;
      } else if (s.unlock == 1 && a == kCommandB && v == 0x55) {
        s.unlock = 2;
      } else {
        const bool erase = s.unlock == 2 && v == 0x30;
        s.unlock = 0;
        s.mode = Mode::Read;
        if (erase) StartErase(a);
      }
      return;
    case Mode::Bypass:
      if (v == 0xA0) s.mode = Mode::BypassProgram;
      if (v == 0x90) s.mode = Mode::BypassReset;
      return;
    case Mode::BypassProgram:
      s.mode = Mode::Bypass;
      StartProgram(a, v);
      return;
    case Mode::BypassReset:
      s.mode = v == 0x00 ? Mode::Read : Mode::Bypass;
      return;
  }
}

void SimChip::StartProgram(uint32_t address, uint8_t data) {
  state_.prog_pending = true;
  state_.prog_address = address;
  state_.prog_data = data;
  state_.prog_tick = state_.ticks;
}

// A symbol latched at latch_tick: the program in progress takes only if its time had passed.
void SimChip::ResolveProgram(uint64_t latch_tick) {
  if (!state_.prog_pending) return;
  state_.prog_pending = false;
  if (latch_tick - state_.prog_tick > config_.program_ticks) ApplyProgram();
}

void SimChip::ApplyProgram() {
  const uint32_t a = state_.prog_address;
  uint8_t v = flash_[a] & state_.prog_data;
  if (config_.bad_masks) v |= config_.bad_masks[a];
  flash_[a] = v;
}

void SimChip::StartErase(uint32_t address) {
  SimChipState& s = state_;
  if (s.erase_busy) return;
  uint32_t start;
  uint32_t size;
  if (!LongProtocol()) {
    start = address & ~0xFFFu;
    size = 0x1000;
  } else if (address < 0x4000) {
    start = 0, size = 0x4000;
  } else if (address < 0x6000) {
    start = 0x4000, size = 0x2000;
  } else if (address < 0x8000) {
    start = 0x6000, size = 0x2000;
  } else if (address < 0x10000) {
    start = 0x8000, size = 0x8000;
  } else {
    start = address & ~0xFFFFu, size = 0x10000;
  }
  if (config_.erase_polls == 0) {
    std::memset(flash_ + start, 0xFF, size);
    return;
  }
  s.erase_busy = true;
  s.erase_left = config_.erase_polls;
  s.status_low = false;
  s.erase_start = start;
  s.erase_size = size;
}

uint8_t SimChip::LoadByte() {
  SimChipState& s = state_;
  if (s.erase_busy) {
    const uint8_t status = s.status_low ? 0x00 : 0x40;
    s.status_low = !s.status_low;
    if (--s.erase_left == 0) {
      std::memset(flash_ + s.erase_start, 0xFF, s.erase_size);
      s.erase_busy = false;
      s.status_low = false;
      s.erase_start = s.erase_size = 0;
    }
    if (on_status_load_) on_status_load_();
    return status;
  }
  const bool ids = LongProtocol() ? s.mode == Mode::Autoselect : s.id_mode;
  return ids ? IdByte(s.address) : flash_[s.address];
}

uint8_t SimChip::IdByte(uint32_t address) const {
  static constexpr uint8_t kBase[] = {0xBF, 0xD5};
  static constexpr uint8_t kLarge[] = {0x20, 0x22, 0x49};
  static constexpr uint8_t kAlt[] = {0xB0, 0x22, 0xE9};
  switch (config_.type) {
    case SimChipType::Base:
      return address < 2 ? kBase[address] : 0x00;
    case SimChipType::Large:
      return address < 3 ? kLarge[address] : 0x00;
    case SimChipType::Alt:
      return address < 3 ? kAlt[address] : 0x00;
    case SimChipType::None:
      break;
  }
  return 0x00;
}

// Runs of ChipLarge program groups in unlock bypass: 0xA0 (advancing the address unless it is
// the first), the data byte, and a hold of 28 bytes with the strobe high and no data.
std::size_t SimChip::FastLarge(const uint8_t* p, std::size_t n) {
  SimChipState& s = state_;
  const uint64_t tpb = static_cast<uint64_t>(s.ticks_per_byte);
  std::size_t used = 0;
  while (n - used >= 40) {
    const uint8_t* g = p + used;
    const uint8_t b0 = g[0];
    if ((b0 != 0x2D && b0 != 0x25) || g[1] != (b0 | 0x10)) break;
    if (g[2] != 0x00 || g[3] != 0x10 || g[4] != 0x00 || g[5] != 0x10) break;
    const uint8_t x6 = g[6];
    if ((x6 & 0xF8) != 0x20 || g[7] != (x6 | 0x10)) break;
    if (!IsSymbolPair(g + 8) || g[10] != 0x00 || g[11] != 0x10) break;
    if (Load64(g + 12) != kHold64 || Load64(g + 20) != kHold64 || Load64(g + 28) != kHold64 ||
        Load64(g + 32) != kHold64)
      break;
    const uint8_t data = static_cast<uint8_t>((x6 & 7) << 5 | SymbolOf(g[8]));
    ResolveProgram(s.ticks + 2 * tpb);
    if (b0 == 0x2D) s.address = (s.address + 1) & mask_;
    s.ticks += 12 * tpb;
    StartProgram(s.address, data);
    s.ticks += 28 * tpb;
    used += 40;
  }
  if (used) {
    s.strobe = true;
    s.data_line = false;
  }
  return used;
}

// Runs of ChipBase program groups: 0x05, four address symbols, the data symbol clocked four
// times and held with the strobe high for 23 bytes.
std::size_t SimChip::FastBase(const uint8_t* p, std::size_t n) {
  SimChipState& s = state_;
  const uint64_t tpb = static_cast<uint64_t>(s.ticks_per_byte);
  std::size_t used = 0;
  while (n - used >= 40) {
    const uint8_t* g = p + used;
    if (g[0] != 0x05 || g[1] != 0x15) break;
    if (!IsSymbolPair(g + 2) || !IsSymbolPair(g + 4) || !IsSymbolPair(g + 6) ||
        !IsSymbolPair(g + 8) || !IsSymbolPair(g + 10))
      break;
    const uint8_t lo = g[10];
    const uint8_t hi = g[11];
    if (g[12] != lo || g[13] != hi || g[14] != lo || g[15] != hi || g[16] != lo) break;
    if (!AllBytes(g + 17, 23, hi)) break;
    const uint8_t s1 = SymbolOf(g[2]);
    const uint32_t address = (uint32_t{s1 & 3u} << 15 | uint32_t{SymbolOf(g[4])} << 10 |
                              uint32_t{SymbolOf(g[6])} << 5 | SymbolOf(g[8])) &
                             mask_;
    const uint8_t data = static_cast<uint8_t>(((s1 >> 2) & 7) << 5 | SymbolOf(lo));
    ResolveProgram(s.ticks + 2 * tpb);
    s.ticks += 18 * tpb;
    StartProgram(address, data);
    s.ticks += 22 * tpb;
    used += 40;
  }
  if (used) {
    s.id_enter_count = s.id_leave_count = 0;
    s.after_address = false;
    s.erase_count = 0;
    s.strobe = true;
    s.data_line = false;
  }
  return used;
}

// Runs of compare groups: 0x0D, the high four bits (D4 clear), the low four bits (D4 set).
std::size_t SimChip::FastCompare(const uint8_t* p, std::size_t n) {
  SimChipState& s = state_;
  const uint64_t tpb = static_cast<uint64_t>(s.ticks_per_byte);
  std::size_t used = 0;
  bool pass = s.pass;
  uint32_t address = s.address;
  while (n - used >= 6) {
    const uint8_t* g = p + used;
    if (g[0] != 0x0D || g[1] != 0x1D) break;
    const uint8_t h = g[2];
    const uint8_t l = g[4];
    if (h > 0x0F || g[3] != (h | 0x10) || (l & 0xF0) != 0x20 || g[5] != (l | 0x10)) break;
    if (used == 0) ResolveProgram(s.ticks + 2 * tpb);
    pass &= flash_[address] == static_cast<uint8_t>(h << 4 | (l & 0x0F));
    address = (address + 1) & mask_;
    used += 6;
  }
  if (used) {
    s.pass = pass;
    s.address = address;
    s.ticks += used * tpb;
    s.id_enter_count = s.id_leave_count = 0;
    s.after_address = false;
    s.erase_count = 0;
    s.strobe = true;
    s.data_line = false;
  }
  return used;
}

}  // namespace quelt
