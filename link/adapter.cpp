#include "link/adapter.h"

namespace quelt {
namespace {

AbsentAdapter absent_adapter;
Adapter* current_adapter = &absent_adapter;

}  // namespace

void SetAdapter(Adapter* adapter) { current_adapter = adapter ? adapter : &absent_adapter; }

uint32_t AdapterOpen() { return current_adapter->Open(); }
uint32_t AdapterSpeed(int32_t speed) { return current_adapter->Speed(speed); }

uint32_t QueltProgrammerWrite(const uint8_t* bytes, uint32_t count, uint32_t* written) {
  return current_adapter->Write(bytes, count, written);
}

uint32_t QueltProgrammerRead(uint8_t* input) { return current_adapter->Read(input); }

std::string AdapterOpenError() { return current_adapter->OpenError(); }

}  // namespace quelt
