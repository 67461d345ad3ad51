// Chooses the adapter from its name: "sim" or "sim:TYPE[,OPTION...]" for the built-in emulator,
// "ftdi[:VID:PID][,OPTION...]" for an FTDI chip in bit-bang mode (not on Windows), an empty name
// for the platform's adapter library, anything else for the path of a library.
#pragma once

#include <memory>
#include <string>

#include "link/adapter.h"

namespace quelt {

struct AdapterChoice {
  // Never null: when the name is refused, an adapter whose open fails.
  std::unique_ptr<Adapter> adapter;
  // Empty when the adapter was made as named; else why not (an emulator or FTDI option
  // refused, a library not loaded).
  std::string error;
  bool emulator = false;
};

AdapterChoice ChooseAdapter(const std::string& name);

}  // namespace quelt
