#include "link/work_buffer.h"

#include <atomic>
#include <new>

namespace quelt {
namespace {

constexpr std::size_t kAlignment = 64;
std::atomic<WorkBufferAllocFn> allocator{&DefaultWorkBufferAlloc};

}  // namespace

void* DefaultWorkBufferAlloc(std::size_t bytes) {
  return ::operator new (bytes, std::align_val_t{kAlignment}, std::nothrow);
}

void SetWorkBufferAllocatorForTests(WorkBufferAllocFn alloc) {
  allocator.store(alloc ? alloc : &DefaultWorkBufferAlloc);
}

WorkBuffer::WorkBuffer(std::size_t bytes) : data_(static_cast<uint8_t*>(allocator.load()(bytes))) {}

WorkBuffer::~WorkBuffer() {
  if (data_) ::operator delete (data_, std::align_val_t{kAlignment});
}

}  // namespace quelt
