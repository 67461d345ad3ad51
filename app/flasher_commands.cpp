// The window's commands: loading an image, safe mode, Write and Verify up to the worker start.
#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <cstdio>
#include <utility>

#include "app/control_ids.h"
#include "app/flasher_dlg.h"
#include "flash/image_words.h"
#include "image/image_file.h"
#include "image/image_load.h"
#include "link/bus.h"
#include "settings/safe_mode.h"
#include "texts/user_texts.h"

namespace quelt {
namespace {

const BoxContent kLoadWhileBusy{
    "A write or verify is in progress. Load the file when it has finished.", "Open file",
    BoxIcon::Information};

// The two messages of image reading go to standard output, as the file is read.
void PrintReadMessage(ReadFailure failure) {
  const char* message = failure == ReadFailure::CannotOpen ? kCannotOpenMessage
                        : failure == ReadFailure::TooBig   ? kTooBigMessage
                                                           : nullptr;
  if (!message) return;
  // A message the console cannot take has no one else to go to.
  (void)std::fputs(message, stdout);
  (void)std::fflush(stdout);
}

}  // namespace

int32_t FlasherDlg::LoadImageFile(const QString& path) {
  const ImageLoad load = LoadAndCheckImage(path.toStdString());
  switch (load.kind) {
    case ImageLoad::Loaded:
      image_loaded_ = true;
      SetStatusDirect(kLoadedStatusStart + QString::number(load.size / 1024) + kLoadedStatusEnd);
      SetTitle(title_text_ + " - '" + QString::fromStdString(load.name) + "' loaded");
      return load.size;
    case ImageLoad::Empty:
      image_loaded_ = false;
      SetStatusDirect(kEmptyFileStatus);
      break;
    case ImageLoad::BadMagic:
      image_loaded_ = false;
      ShowMessageBox({kInvalidFileText, kInvalidFileCaption, BoxIcon::Warning}, this);
      break;
    case ImageLoad::ReadFailed:
      PrintReadMessage(load.failure);
      ShowMessageBox({ReadFailureText(load.failure), kReadErrorCaption, BoxIcon::Error}, this);
      break;
  }
  return 0;
}

bool FlasherDlg::RefuseLoadWhileBusy() {
  if (!run_.Busy()) return false;
  ShowMessageBox(kLoadWhileBusy, this);
  return true;
}

void FlasherDlg::OnDropFiles(const QList<QUrl>& urls) {
  if (RefuseLoadWhileBusy()) return;
  if (urls.size() != 1) {
    ShowMessageBox({"Please drag only one file at a time", "Open file", BoxIcon::Information},
                   this);
    return;
  }
  if (LoadImageFile(urls.front().toLocalFile()) == 0) {
    ShowMessageBox({"Error while reading input file", {}, BoxIcon::Warning}, this);
  }
}

void FlasherDlg::OnLoadBios() {
  if (RefuseLoadWhileBusy()) return;
  const QString bios_filter = "Bios files (*.qlz)";
  QFileDialog dialog(this, "Please select a Quelt JQ Bios file");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilters({"All (*)", bios_filter});
  // The first filter is shown as "All". The dialog takes the patterns from the list above by
  // position, so it still matches "*"; only the text in its list box changes.
  if (auto* types = dialog.findChild<QComboBox*>("fileTypeCombo")) types->setItemText(0, "All");
  dialog.selectNameFilter(bios_filter);
  // Extensions match in any case.
  dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().front();

  // Only a test that the file can be opened for reading; a FIFO or a device fails it at once.
  if (!TestOpenForReading(path.toStdString())) {
    ShowMessageBox({"File error", {}, BoxIcon::None}, this);
    return;
  }
  image_loaded_ = LoadImageFile(path) != 0;
}

void FlasherDlg::OnSafeMode() {
  if (safe_mode_item_->isChecked()) {
    safe_mode_ = false;
    SaveSafeMode(0);
    safe_mode_item_->setChecked(false);
  } else {
    safe_mode_ = true;
    SaveSafeMode(1);
    safe_mode_item_->setChecked(true);
  }
}

void FlasherDlg::RunCommand(FlashCommand command, int button_id) {
  if (run_.Busy()) {
    run_.RequestCancel();
    return;
  }
  FlashSteps steps;
  steps.safe_mode = safe_mode_;
  // With the adapter open: no image yet asks for one through Load Bios.
  steps.image_needed = [this] {
    if (!image_loaded_) OnLoadBios();
    return image_loaded_;
  };
  steps.cancel_after_erase = [this] { return run_.CancelRequested(); };
  FlashJob job(command, observer_, std::move(steps));
  if (!job.Prepare()) return;
  if (run_.Start([this, job, button_id] { RunWorker(this, job, button_id); })) return;
  IdleBus();
  ShowMessageBox({"The operation could not be started.", "Error", BoxIcon::Error}, this);
  SetStatus("Ready");
}

void FlasherDlg::OnWrite() { RunCommand(FlashCommand::Write, kWriteButtonId); }

void FlasherDlg::OnVerify() { RunCommand(FlashCommand::Verify, kVerifyButtonId); }

}  // namespace quelt
