#include "link/chip_type.h"

#include <atomic>

namespace quelt {
namespace {
// Written only by identification, which never runs while a worker uses the link; atomic so
// that a read on any thread (a worker, a test's) is never a data race.
std::atomic<ChipType> chip_type{ChipNone};
}  // namespace

ChipType CurrentChipType() { return chip_type.load(std::memory_order_acquire); }
void SetCurrentChipType(ChipType type) { chip_type.store(type, std::memory_order_release); }
void ResetChipTypeForTests() { SetCurrentChipType(ChipNone); }

}  // namespace quelt
