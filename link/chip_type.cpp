#include "link/chip_type.h"

#include <atomic>

namespace quelt {
namespace {
// Written on the window thread before a worker starts and only read while it runs; atomic so
// that the command line's signal handling and the tests' threads may read it too.
std::atomic<ChipType> chip_type{ChipNone};
}  // namespace

ChipType CurrentChipType() { return chip_type.load(std::memory_order_acquire); }
void SetCurrentChipType(ChipType type) { chip_type.store(type, std::memory_order_release); }
void ResetChipTypeForTests() { SetCurrentChipType(ChipNone); }

}  // namespace quelt
