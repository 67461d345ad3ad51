// A process killed while it stores the setting leaves the old or the new value, never a torn one.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "settings/registry_key.h"
#include "settings/safe_mode.h"
#include "tests/settings/settings_fixture.h"

namespace quelt::test {
namespace {

// The stored int, checking that the file is whole: type REG_BINARY and 4 bytes of data.
int StoredWhole(const std::optional<Bytes>& file) {
  EXPECT_TRUE(file.has_value());
  if (!file) return -1;
  EXPECT_EQ(file->size(), 8u);
  if (file->size() != 8) return -1;
  EXPECT_EQ((Bytes{(*file)[0], (*file)[1], (*file)[2], (*file)[3]}), (Bytes{3, 0, 0, 0}));
  return (*file)[4] | (*file)[5] << 8 | (*file)[6] << 16 | (*file)[7] << 24;
}

TEST_F(SettingsTest, KilledWhileStoringLeavesOldOrNewValue) {
  SaveSafeMode(1);
  std::mt19937 random(std::random_device{}());
  int last = 1;
  constexpr int kRounds = 25;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Store ever larger values; tell the parent once the first one is in place.
      ::close(ready[0]);
      for (int value = last + 1;; ++value) {
        SaveSafeMode(value);
        if (value == last + 1) {
          const char byte = 1;
          if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
        }
      }
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    const int value = StoredWhole(ReadMode());
    EXPECT_GT(value, last) << "the value stored before the signal is kept";
    last = value;
    RegistryKey key;
    ASSERT_TRUE(key.Open("Software\\Quelt JQ", false));
    EXPECT_EQ(key.ReadInt("Mode", -1), value);
  }
}

}  // namespace
}  // namespace quelt::test
