#include "app/busy_flag.h"

namespace quelt {
namespace {
std::atomic<bool> busy{false};
}  // namespace

std::atomic<bool>& BusyFlag() { return busy; }
void ResetBusyFlagForTests() { busy.store(false); }

}  // namespace quelt
