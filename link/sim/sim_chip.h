// The behavioural model of one chip behind the adapter: it decodes the adapter byte stream as the
// chip does (symbols latched at rising strobe edges, time counted in ticks) and acts on the flash.
//
// Feed() decodes byte by byte; with fast paths on, it recognises whole program groups and
// compare groups and applies their effect directly, falling back to the byte-by-byte decoder
// whenever a group or the chip's state does not match exactly. Both give the same flash, the
// same answers and the same state (tests/link checks this on random and real streams).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace quelt {

enum class SimChipType { Base, Large, Alt, None };

// Flash size of a chip type in bytes (0 for None).
uint32_t SimChipSize(SimChipType type);

// Everything that decides how the chip answers the bytes still to come. Plain data so that two
// decoders can be compared field by field.
struct SimChipState {
  enum class Unit : uint8_t { Idle, Start, Address, Program, Cycle, Read, Shift };
  enum class Mode : uint8_t {
    Read,           // array reads
    Autoselect,     // reads give the ID bytes
    ProgramOnce,    // after the unlocked 0xA0: the next cycle programs
    EraseSetup,     // after the unlocked 0x80: waits for its own unlock and 0x30
    Bypass,         // unlock bypass: 0xA0 then data programs, 0x90 then 0x00 leaves
    BypassProgram,  // bypass, after 0xA0
    BypassReset,    // bypass, after 0x90
  };

  // Lines and time.
  bool strobe = false;
  int ticks_per_byte = 1;
  uint64_t ticks = 0;
  bool data_line = false;

  // Deaf chip (a start unit of the other protocol was seen): only its own start unit wakes it.
  bool deaf = false;
  uint8_t deaf_last[2] = {0, 0};

  // The unit being received at command position.
  Unit unit = Unit::Idle;
  uint8_t unit_pos = 0;
  uint8_t unit_syms[8] = {};

  uint32_t address = 0;
  bool pass = true;

  // Short protocol.
  bool id_mode = false;
  uint8_t id_enter_count = 0;
  uint8_t id_leave_count = 0;
  bool after_address = false;
  uint8_t erase_count = 0;

  // Long protocol.
  Mode mode = Mode::Read;
  uint8_t unlock = 0;  // 0, 1 after 0xAA at 0xAAA, 2 after 0x55 at 0x555

  // Read unit.
  uint8_t loaded = 0;
  uint8_t shifts = 0;

  // Busy erase.
  bool erase_busy = false;
  uint32_t erase_left = 0;
  bool status_low = false;  // the next status load reads 0x00 (else 0x40)
  uint32_t erase_start = 0;
  uint32_t erase_size = 0;

  // Program in progress: takes unless a symbol is latched within the program time.
  bool prog_pending = false;
  uint32_t prog_address = 0;
  uint8_t prog_data = 0;
  uint64_t prog_tick = 0;

  bool operator==(const SimChipState&) const = default;
};

struct SimChipConfig {
  SimChipType type = SimChipType::Large;
  uint32_t erase_polls = 3;
  uint32_t program_ticks = 20;
  // Per flash byte, the bits that stay at 1; null when there are no bad cells.
  const uint8_t* bad_masks = nullptr;
};

class SimChip {
 public:
  // `flash` holds SimChipSize(config.type) bytes and outlives the chip (not used for None).
  SimChip(const SimChipConfig& config, uint8_t* flash);

  // Sets the ticks per adapter byte from the adapter speed (2 ticks at speed 3, else 1).
  void SetSpeed(int32_t speed);
  // Decodes the bytes in order. The fast paths are used when enabled.
  void Feed(const uint8_t* bytes, std::size_t count);
  // Finishes a program whose time has passed (reads take no time, so this is all a read needs).
  void Settle();
  // The chip's data line.
  bool DataLine() const { return state_.data_line; }

  void EnableFastPaths(bool enable) { fast_ = enable; }
  // Program and compare groups taken by the fast paths so far (for tests).
  uint64_t FastGroups() const { return fast_groups_; }
  const SimChipState& State() const { return state_; }

  // Called at every status load of a busy erase (the adapter's hold hook uses it).
  void OnStatusLoad(std::function<void()> callback) { on_status_load_ = std::move(callback); }

 private:
  bool LongProtocol() const { return config_.type != SimChipType::Base; }
  void Step(uint8_t byte);
  void Latch(uint8_t symbol);
  void CommandPosition(uint8_t symbol);
  void ShortCommand(uint8_t symbol);
  void LongCommand(uint8_t symbol);
  void ContinueUnit(uint8_t symbol);
  void ContinueRead(uint8_t symbol);
  void StartUnit();
  void WriteCycle(uint8_t value);
  void StartProgram(uint32_t address, uint8_t data);
  void ResolveProgram(uint64_t latch_tick);
  void ApplyProgram();
  void StartErase(uint32_t address);
  uint8_t LoadByte();
  uint8_t IdByte(uint32_t address) const;
  void EndUnit();

  std::size_t FastLarge(const uint8_t* p, std::size_t n);
  std::size_t FastBase(const uint8_t* p, std::size_t n);
  std::size_t FastCompare(const uint8_t* p, std::size_t n);

  SimChipConfig config_;
  uint8_t* flash_;
  uint32_t mask_;
  SimChipState state_;
  bool fast_ = true;
  uint64_t fast_groups_ = 0;
  std::function<void()> on_status_load_;
};

}  // namespace quelt
