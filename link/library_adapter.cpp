#include "link/library_adapter.h"

#include "link/library_entries.h"

namespace quelt {
namespace {

// An adapter library that was loaded with all four entry points.
class LibraryAdapter final : public Adapter {
 public:
  explicit LibraryAdapter(const LibraryEntries& entries) : entries_(entries) {}
  ~LibraryAdapter() override { UnloadLibrary(entries_.handle); }

  uint32_t Open() override { return entries_.open(); }
  uint32_t Speed(int32_t speed) override { return entries_.speed(speed); }
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override {
    return entries_.write(bytes, count, written);
  }
  uint32_t Read(uint8_t* input) override { return entries_.read(input); }

 private:
  LibraryEntries entries_;
};

}  // namespace

std::unique_ptr<Adapter> MakeMissingAdapter() { return std::make_unique<AbsentAdapter>(); }

std::unique_ptr<Adapter> LoadAdapterLibrary(const std::string& path, std::string* error) {
  LibraryEntries entries;
  std::string why;
  if (!LoadLibraryEntries(path, &entries, &why)) {
    if (error) *error = why.empty() ? "cannot load " + path : why;
    return MakeMissingAdapter();
  }
  if (error) error->clear();
  return std::make_unique<LibraryAdapter>(entries);
}

}  // namespace quelt
