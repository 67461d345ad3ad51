#include "tests/sim/sim_test_util.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "link/program.h"
#include "link/verify.h"

namespace quelt::test {

std::vector<uint8_t> RandomBytes(std::size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

std::string TempPath(const std::string& name) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string file =
      std::string("quelt-sim-") + info->test_suite_name() + "-" + info->name() + "-" + name;
  for (char& c : file) {
    if (c == '/') c = '_';
  }
  const std::string path = ::testing::TempDir() + file;
  std::remove(path.c_str());
  return path;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void SimTest::TearDown() {
  SetAdapter(nullptr);
  ResetChipTypeForTests();
}

SimAdapter& SimTest::Use(const std::string& options, int32_t speed) {
  SetAdapter(nullptr);
  ResetChipTypeForTests();
  std::string error;
  sim_ = SimAdapter::Create(options, &error);
  if (!sim_) {
    ADD_FAILURE() << "options \"" << options << "\" refused: " << error;
    sim_ = SimAdapter::Create("none", &error);
  }
  SetAdapter(sim_.get());
  EXPECT_EQ(0u, AdapterOpen());
  AdapterSpeed(speed);
  return *sim_;
}

void SimTest::WriteImage(const std::vector<uint8_t>& image) {
  IdentifyChip();
  const int32_t size = static_cast<int32_t>(image.size());
  ASSERT_EQ(LinkStatus::Ok, EraseImageRange(size));
  ASSERT_EQ(LinkStatus::Ok, ProgramImage(image.data(), size, {}));
}

int SimTest::VerifyResult(const std::vector<uint8_t>& image) {
  IdentifyChip();
  const VerifyOutcome outcome = VerifyImage(image.data(), static_cast<int32_t>(image.size()), {});
  EXPECT_EQ(LinkStatus::Ok, outcome.status);
  return outcome.result;
}

std::vector<uint8_t> SimTest::Flash() const {
  const std::string flash = sim_->FlashContents();
  return std::vector<uint8_t>(flash.begin(), flash.end());
}

}  // namespace quelt::test
