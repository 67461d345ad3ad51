// The emulated chip's flash: in memory, or a file mapped shared so that every erase and program
// lands in it as it happens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quelt {

class FlashStore {
 public:
  FlashStore() = default;
  ~FlashStore();
  FlashStore(const FlashStore&) = delete;
  FlashStore& operator=(const FlashStore&) = delete;

  // Erased memory of `size` bytes.
  void InMemory(std::size_t size);
  // Maps `path`: created erased when missing, refused when its size is not `size`.
  bool MapFile(const std::string& path, std::size_t size, std::string* error);

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  std::vector<uint8_t> memory_;
  uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;
};

}  // namespace quelt
