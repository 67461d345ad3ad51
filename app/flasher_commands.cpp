// The window's commands: loading an image, safe mode, Write and Verify up to the worker start.
#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <cstdio>

#include "app/busy_flag.h"
#include "app/flasher_dlg.h"
#include "app/workers.h"
#include "image/image_load.h"
#include "image/image_store.h"
#include "link/adapter.h"
#include "link/bus.h"
#include "link/chip_type.h"
#include "link/identify.h"
#include "settings/safe_mode.h"
#include "texts/user_texts.h"

namespace quelt {
namespace {

BoxIcon ToBoxIcon(MessageBoxText::Icon icon) {
  switch (icon) {
    case MessageBoxText::Error:
      return BoxIcon::Error;
    case MessageBoxText::Warning:
      return BoxIcon::Warning;
    case MessageBoxText::Information:
      return BoxIcon::Information;
    case MessageBoxText::None:
      break;
  }
  return BoxIcon::None;
}

const BoxContent kLoadWhileBusy{
    "A write or verify is in progress. Load the file when it has finished.", "Open file",
    BoxIcon::Information};

}  // namespace

int32_t FlasherDlg::LoadImageFile(const QString& path) {
  const LoadOutcome outcome = LoadImageForDisplay(path.toStdString(), title_text_.toStdString());
  if (outcome.show_box) {
    ShowMessageBox({QString::fromStdString(outcome.box.text),
                    QString::fromStdString(outcome.box.caption), ToBoxIcon(outcome.box.icon)},
                   this);
  }
  if (outcome.set_status) SetStatusDirect(QString::fromStdString(outcome.status));
  if (outcome.set_title) setWindowTitle(QString::fromStdString(outcome.title));
  switch (outcome.kind) {
    case LoadOutcome::Loaded:
      image_loaded_ = true;
      break;
    case LoadOutcome::Empty:
    case LoadOutcome::BadMagic:
      image_loaded_ = false;
      break;
    case LoadOutcome::ReadFailed:
      break;
  }
  return outcome.result;
}

bool FlasherDlg::RefuseLoadWhileBusy() {
  if (!BusyFlag()) return false;
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
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilters({"All (*)", bios_filter});
  dialog.selectNameFilter(bios_filter);
  // Extensions match in any case.
  dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().front();

  // Only a test that the file can be opened for reading.
  std::FILE* test = std::fopen(path.toLocal8Bit().constData(), "r");
  if (!test) {
    ShowMessageBox({"File error", {}, BoxIcon::None}, this);
    return;
  }
  (void)std::fclose(test);  // opened for reading only: nothing to lose
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

int FlasherDlg::ReportConnection() {
  const BoxContent kNoChip{kNoChipText, kConnectionErrorCaption, BoxIcon::Error};
  const BoxContent kUnknownVersion{kUnknownVersionText, kConnectionErrorCaption, BoxIcon::Error};
  switch (CurrentChipType()) {
    case ChipNone:
      SetStatus(kConnectionErrorCaption);
      ShowMessageBox(kNoChip, this);
      return -1;
    case ChipBase:
      SetStatus(kConnectedBase);
      return 1;
    case ChipLarge:
      SetStatus(kConnectedLarge);
      return 1;
    default:
      ShowMessageBox(kUnknownVersion, this);
      return -1;
  }
}

bool FlasherDlg::OpenAdapterOrReport() {
  if (AdapterOpen() == 0) return true;
  // The user sees the box; why the open failed goes to standard error for whoever can act on it.
  const std::string why = CurrentAdapter().OpenError();
  if (!why.empty()) std::fprintf(stderr, "quelt-flasher: adapter: %s\n", why.c_str());
  ShowMessageBox({kAdapterNotFoundText, kAdapterNotFoundCaption, BoxIcon::Error}, this);
  SetStatusDirect(kCantConnectStatus);
  return false;
}

bool FlasherDlg::BeginChipCommand() {
  if (BusyFlag()) {
    cancel_request_ = true;
    return false;
  }
  if (!OpenAdapterOrReport()) return false;
  AdapterSpeed(safe_mode_ ? 3 : 2);
  IdentifyChip();
  return true;
}

bool FlasherDlg::EnsureImageLoaded() {
  if (!image_loaded_) OnLoadBios();
  return image_loaded_;
}

void FlasherDlg::OnWrite() {
  if (!BeginChipCommand()) return;
  if (ReportConnection() != 1 || !EnsureImageLoaded()) {
    IdleBus();
    return;
  }
  if (CurrentChipType() == ChipBase && ImageSize() > kBaseChipMaxBytes) {
    ShowMessageBox({kTooBigForBaseText, kTooBigCaption, BoxIcon::Error}, this);
    SetStatusDirect(kTooBigStatus);
    IdleBus();
    return;
  }
  StartWorker(&WriteWorker);
}

void FlasherDlg::OnVerify() {
  if (!BeginChipCommand()) return;
  if (CurrentChipType() == ChipBase) {
    ShowMessageBox({kNotImplementedText, kNotImplementedCaption, BoxIcon::Warning}, this);
    IdleBus();
    return;
  }
  if (ReportConnection() != 1 || !EnsureImageLoaded()) {
    IdleBus();
    return;
  }
  StartWorker(&VerifyWorker);
}

}  // namespace quelt
