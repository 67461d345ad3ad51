// A fresh image store for every test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/image_read_layer.h"
#include "image/image_store.h"
#include "tests/image/image_test_files.h"

namespace quelt::test {

class ImageStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetImageStoreForTests();
    ASSERT_TRUE(AllocateImage());
  }
  void TearDown() override {
    SetImageReadCallForTests({});
    ResetImageStoreForTests();
  }

  // Puts `bytes` at the start of the buffer and sets the size, as an earlier load would have.
  void Preload(const std::vector<uint8_t>& bytes) {
    std::memcpy(ImageBuffer(), bytes.data(), bytes.size());
    SetImageSize(static_cast<int32_t>(bytes.size()));
  }
  // The buffer's first `count` bytes.
  std::vector<uint8_t> BufferStart(std::size_t count) const {
    return std::vector<uint8_t>(ImageBuffer(), ImageBuffer() + count);
  }

  TempDir dir_;
};

}  // namespace quelt::test
