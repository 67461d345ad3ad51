// The working buffer of a streamed chip operation (programming, verification): obtained once per
// call, released when the call returns. Obtaining it may fail; the operation then sends nothing
// and reports NoMemory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quelt {

// Returns a block of at least `bytes` bytes aligned to 64, or nullptr. Blocks are released as
// DefaultWorkBufferAlloc's are, so a replacement either fails or passes the call on to it.
using WorkBufferAllocFn = void* (*)(std::size_t bytes);

// The allocator used when none is set: aligned, non-throwing operator new.
void* DefaultWorkBufferAlloc(std::size_t bytes);

// For tests only: replaces the allocator (nullptr restores the default), so that a failed
// allocation can be seen. Not for use while a chip operation runs.
void SetWorkBufferAllocatorForTests(WorkBufferAllocFn alloc);

class WorkBuffer {
 public:
  explicit WorkBuffer(std::size_t bytes);
  ~WorkBuffer();
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;

  explicit operator bool() const { return data_ != nullptr; }
  uint8_t* data() const { return data_; }

 private:
  uint8_t* data_;
};

}  // namespace quelt
