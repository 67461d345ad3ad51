// The application object: its start-up runs the whole life of the tool.
#pragma once

namespace quelt {

class Adapter;

class FlasherApp {
 public:
  // The image buffer, the adapter named by QUELT_ADAPTER (or `adapter` when given), the chip
  // identified before any open, the window run modally, then the idle bus and the buffer
  // released. Creates the QApplication unless one exists. The command line is not looked at.
  // Always false: the process ends without a message loop of its own.
  bool InitInstance(int& argc, char** argv, Adapter* adapter = nullptr);
  // The process's exit status after InitInstance: 1 when start-up could not obtain the image
  // buffer, else 0.
  int ExitStatus() const { return start_failed_ ? 1 : 0; }

 private:
  bool start_failed_ = false;
};

}  // namespace quelt
