#include "app/flasher_app.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/flasher_dlg.h"
#include "image/image_store.h"
#include "link/adapter.h"
#include "link/adapter_choice.h"
#include "link/bus.h"
#include "link/identify.h"

namespace quelt {

bool FlasherApp::InitInstance(int& argc, char** argv, Adapter* adapter) {
  start_failed_ = !AllocateImage();
  if (start_failed_) {
    std::fprintf(stderr, "quelt-flasher: not enough memory for the image buffer\n");
    return false;
  }

  AdapterChoice choice;
  if (!adapter) {
    const char* name = std::getenv("QUELT_ADAPTER");
    choice = ChooseAdapter(name ? name : "");
    if (!choice.error.empty()) {
      // The adapter stays one whose open fails: never a silent fall-back to another.
      std::fprintf(stderr, "quelt-flasher: adapter: %s\n", choice.error.c_str());
    }
    adapter = choice.adapter.get();
  }
  SetAdapter(adapter);

  // Before any open: the adapter accepts the frames and answers nothing.
  IdentifyChip();

  std::unique_ptr<QApplication> application;
  if (!QApplication::instance()) application = std::make_unique<QApplication>(argc, argv);
  if (argc > 0 && argv[0]) {
    QApplication::setApplicationName(
        QString::fromStdString(std::filesystem::path(argv[0]).stem().string()));
  }

  auto window = std::make_unique<FlasherDlg>();
  window->DoModal();
  // The run has ended only after any worker finished; wait for its thread's return.
  window->JoinWorker();

  IdleBus();
  FreeImage();
  window.reset();
  SetAdapter(nullptr);
  return false;
}

}  // namespace quelt
