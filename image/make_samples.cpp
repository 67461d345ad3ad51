// quelt-make-samples FOLDER: writes the sample images into FOLDER (created when missing).
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "image/sample_image.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quelt-make-samples FOLDER\n");
    return 1;
  }
  const std::filesystem::path folder(argv[1]);
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    std::fprintf(stderr, "quelt-make-samples: cannot create %s: %s\n", argv[1],
                 error.message().c_str());
    return 1;
  }
  for (const quelt::SampleImage& sample : quelt::kSampleImages) {
    const std::string path = (folder / sample.file_name).string();
    if (!quelt::WriteSampleImage(path, quelt::MakeSampleImage(sample.image_name, sample.size))) {
      std::fprintf(stderr, "quelt-make-samples: cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("%s: %d bytes, \"%s\"\n", path.c_str(), sample.size, sample.image_name);
  }
  return 0;
}
