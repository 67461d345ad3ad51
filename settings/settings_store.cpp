#include "settings/settings_store.h"

namespace quelt {
namespace {
SettingsStore* test_store = nullptr;
}  // namespace

SettingsStore& CurrentSettingsStore() {
  return test_store != nullptr ? *test_store : PlatformSettingsStore();
}

void SetSettingsStoreForTests(SettingsStore* store) { test_store = store; }

}  // namespace quelt
