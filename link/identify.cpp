#include "link/identify.h"

#include "link/chip_type.h"

namespace quelt {
namespace {

// The start unit that selects the chip's protocol, after 19 quiet symbols.
Frame StartUnit(uint8_t protocol) {
  Frame frame;
  for (int k = 0; k < 19; ++k) frame.Add(0x00);
  return frame.Add(0x1F).Add(protocol).Add(0x12);
}

// The autoselect command: 0xAA to 0xAAA, 0x55 to 0x555, 0x90 to 0xAAA.
Frame LargeEnterFrame() {
  return Frame{}
      .Add(LongAddressPhase(0xAAA))
      .Add(BytePhase(0xAA))
      .Add(LongAddressPhase(0x555))
      .Add(BytePhase(0x55))
      .Add(LongAddressPhase(0xAAA))
      .Add(BytePhase(0x90));
}

struct IdBytes {
  int first;
  int second;
  int third;
};

IdBytes ReadIdBytes(int count) {
  IdBytes id{};
  id.first = ReadChipByte() & 0xFF;
  id.second = ReadChipByte() & 0xFF;
  if (count == 3) id.third = ReadChipByte() & 0xFF;
  return id;
}

}  // namespace

Frame ShortStartFrame() { return StartUnit(0x0C).Add(ShortAddressPhase(0)); }

Frame LongStartFrame() { return StartUnit(0x0D).Add(LongAddressPhase(0)); }

void EnterIdMode() {
  if (CurrentChipType() == ChipBase) {
    Frame{0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E}.Send();
  } else {
    LargeEnterFrame().Send();
  }
}

void LeaveIdMode() {
  if (CurrentChipType() == ChipBase) {
    Frame{0x1B, 0x1B, 0x1B}.Send();
  } else {
    BytePhase(0xF0).Send();  // the reset command
  }
}

void IdentifyChip() {
  switch (CurrentChipType()) {
    case ChipBase:
      ShortStartFrame().Send();
      return;
    case ChipAlt:
    case ChipLarge:
      LongStartFrame().Send();
      return;
    case ChipNone:
      break;
  }

  // Short-protocol probe.
  SetCurrentChipType(ChipBase);
  ShortStartFrame().Send();
  EnterIdMode();
  const IdBytes base = ReadIdBytes(2);
  if (base.first == 0xBF && base.second == 0xD5) {
    LeaveIdMode();
    return;
  }

  // Long-protocol probe; the short probe gets no leave frame. The second byte is not compared.
  LongStartFrame().Send();
  SetCurrentChipType(ChipLarge);
  EnterIdMode();
  LongAddressPhase(0).Send();
  const IdBytes id = ReadIdBytes(3);
  if (id.first == 0xB0 && id.third == 0xE9) {
    LeaveIdMode();  // still ChipLarge here, so the reset command goes out
    SetCurrentChipType(ChipAlt);
    return;
  }
  if (id.first == 0x20 && id.third == 0x49) {
    LeaveIdMode();
    return;
  }
  SetCurrentChipType(ChipNone);
}

}  // namespace quelt
