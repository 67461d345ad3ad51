#include "link/adapter_choice.h"

#include "link/library_adapter.h"
#include "link/sim/sim_adapter.h"
#ifndef _WIN32
#include "link/ftdi/ftdi_adapter.h"
#endif

namespace quelt {

AdapterChoice ChooseAdapter(const std::string& name) {
  AdapterChoice choice;
  if (name == "sim" || name.starts_with("sim:")) {
    const std::string options = name == "sim" ? std::string() : name.substr(4);
    std::unique_ptr<SimAdapter> sim = SimAdapter::Create(options, &choice.error);
    if (sim) {
      choice.adapter = std::move(sim);
      choice.emulator = true;
    } else {
      choice.adapter = MakeMissingAdapter();
    }
    return choice;
  }
#ifndef _WIN32
  if (IsFtdiAdapterName(name)) {
    FtdiOptions options;
    if (ParseFtdiOptions(name.substr(4), &options, &choice.error)) {
      choice.adapter = std::make_unique<FtdiAdapter>(options);
    } else {
      choice.adapter = MakeMissingAdapter();
    }
    return choice;
  }
#endif
  const std::string path = name.empty() ? PlatformAdapterLibrary() : name;
  choice.adapter = LoadAdapterLibrary(path, &choice.error);
  return choice;
}

}  // namespace quelt
