// The window's template, initialisation, status line, forwarding from the worker, and its end.
#include "flasher_dlg.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <semaphore>

#include "about_dlg.h"
#include "app_icon.h"
#include "busy_flag.h"
#include "client_area.h"
#include "control_ids.h"
#include "dialog_units.h"
#include "link/bus.h"
#include "settings/safe_mode.h"

namespace quelt {
namespace {

constexpr char kTemplateCaption[] = "Quelt Flasher USB 1.0";
constexpr char kTitleText[] = "Quelt Flasher USB";

}  // namespace

FlasherDlg::FlasherDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kTemplateCaption);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  BuildMenu();
  BuildTemplate();
}

FlasherDlg::~FlasherDlg() { JoinWorker(); }

void FlasherDlg::BuildMenu() {
  menu_ = new QMenuBar(this);
  QMenu* file = menu_->addMenu("&File");
  load_bios_ = file->addAction("&Load Bios...");
  exit_ = file->addAction("E&xit");
  QMenu* parameters = menu_->addMenu("&Parameters");
  safe_mode_item_ = parameters->addAction("&Use safe mode (slower)");
  safe_mode_item_->setCheckable(true);
  safe_mode_item_->setChecked(true);
  QMenu* help = menu_->addMenu("&Help");
  about_ = help->addAction("&About");

  connect(load_bios_, &QAction::triggered, this, &FlasherDlg::OnLoadBios);
  connect(exit_, &QAction::triggered, this, &QDialog::accept);
  // A checkable action flips its mark before it reports the trigger; put the mark back so that
  // the handler reads the state the user saw.
  connect(safe_mode_item_, &QAction::triggered, this, [this](bool checked) {
    safe_mode_item_->setChecked(!checked);
    OnSafeMode();
  });
  connect(about_, &QAction::triggered, this, &FlasherDlg::OnAbout);
}

void FlasherDlg::BuildTemplate() {
  client_ = new ClientArea(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->setMenuBar(menu_);
  layout->addWidget(client_);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // Created in the template's tab order; the group box and the etched line take no focus.
  write_ = new QPushButton("Write", client_);
  write_->setGeometry(DialogRect(15, 18, 60, 14));
  verify_ = new QPushButton("Verify", client_);
  verify_->setGeometry(DialogRect(80, 18, 55, 14));

  status_ = new QLabel("Ready", client_);
  status_->setTextFormat(Qt::PlainText);
  status_->setWordWrap(false);
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  status_->setGeometry(DialogRect(8, 85, 221, 8));

  progress_ = new QProgressBar(client_);
  progress_->setGeometry(DialogRect(15, 44, 120, 18));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);

  auto* line = new QFrame(client_);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setGeometry(DialogRect(7, 81, 222, 1));

  auto* group = new QGroupBox(client_);
  group->setGeometry(DialogRect(6, 0, 138, 76));
  group->lower();

  // Neither button is the default button; a focused one takes Enter itself.
  for (QPushButton* button : {write_, verify_}) button->setDefault(false);
  connect(write_, &QPushButton::clicked, this, &FlasherDlg::OnWrite);
  connect(verify_, &QPushButton::clicked, this, &FlasherDlg::OnVerify);
}

int FlasherDlg::DoModal() {
  OnInitDialog();
  // Window-modal without an owner blocks no other window: a box without an owner shown during
  // a run stays beside a usable window, as boxes owned by the window still block it.
  setWindowModality(Qt::WindowModal);
  return exec();
}

void FlasherDlg::OnInitDialog() {
  cancel_request_ = false;
  safe_mode_ = true;
  image_loaded_ = false;
  title_text_ = kTitleText;

  if (!client_->LoadLogo()) {
    ShowMessageBox({"Error while loading background image", {}, BoxIcon::None}, this);
    // A reject before the modal run starts would be lost: queue it.
    QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
  }

  setAcceptDrops(true);
  setWindowIcon(ApplicationIcon());

  switch (ReadStoredSafeMode()) {
    case StoredSafeMode::Off:
      safe_mode_item_->setChecked(false);
      safe_mode_ = false;
      break;
    case StoredSafeMode::On:
      safe_mode_item_->setChecked(true);
      safe_mode_ = true;
      break;
    case StoredSafeMode::Unchanged:
      break;
    case StoredSafeMode::Missing:
      safe_mode_item_->setChecked(false);
      safe_mode_ = false;
      SaveSafeMode(0);
      break;
  }
  write_->setFocus();
}

QPushButton* FlasherDlg::Button(int id) const {
  return id == kWriteButtonId ? write_ : id == kVerifyButtonId ? verify_ : nullptr;
}

QAction* FlasherDlg::Command(int id) const {
  switch (id) {
    case kLoadBiosCommand:
      return load_bios_;
    case kExitCommand:
      return exit_;
    case kSafeModeCommand:
      return safe_mode_item_;
    case kAboutCommand:
      return about_;
    default:
      return nullptr;
  }
}

QWidget* FlasherDlg::Client() const { return client_; }

void FlasherDlg::OnAbout() {
  AboutDlg about(this);
  about.exec();
}

// ---- Status line and forwarding ----

bool FlasherDlg::OnWindowThread() const { return QThread::currentThread() == thread(); }

void FlasherDlg::ForwardUntilFinished(const std::function<void(const Finish&)>& work) {
  std::binary_semaphore finished{0};
  const Finish finish = [&finished] { finished.release(); };
  if (OnWindowThread()) {
    work([] {});
    return;
  }
  Forwarded call{&work, &finish};
  forwarded_.store(&call, std::memory_order_release);
  QMetaObject::invokeMethod(this, "RunForwarded", Qt::QueuedConnection);
  finished.acquire();
}

void FlasherDlg::RunForwarded() {
  Forwarded* call = forwarded_.exchange(nullptr, std::memory_order_acquire);
  if (call) (*call->work)(*call->finish);
}

void FlasherDlg::Forward(const std::function<void()>& change) {
  ForwardUntilFinished([&change](const Finish& finish) {
    change();
    finish();
  });
}

void FlasherDlg::SetStatusDirect(const QString& text) {
  status_->setText(text);
  emit statusTextSet(text);
}

void FlasherDlg::SetStatus(const QString& text) {
  Forward([this, &text] {
    SetStatusDirect(QString(110, QChar(' ')));
    SetStatusDirect(text);
  });
}

void FlasherDlg::SetButton(int id, const QString& caption) {
  Forward([this, id, &caption] {
    Button(id)->setText(caption);
    emit buttonChanged(id);
  });
}

void FlasherDlg::EnableButton(int id, bool enabled) {
  Forward([this, id, enabled] {
    Button(id)->setEnabled(enabled);
    emit buttonChanged(id);
  });
}

void FlasherDlg::SetProgressRange(int32_t high) {
  Forward([this, high] {
    progress_->setRange(0, high);
    emit progressRangeSet(high);
  });
}

void FlasherDlg::SetProgressPos(int32_t position) {
  Forward([this, position] {
    progress_->setValue(position);
    emit progressSet(position);
  });
}

void FlasherDlg::ShowBoxAndWait(const BoxSpec& spec, bool owned_by_window) {
  if (OnWindowThread()) {
    ShowMessageBox(spec, owned_by_window ? this : nullptr);
    return;
  }
  ForwardUntilFinished([this, &spec, owned_by_window](const Finish& finish) {
    QMessageBox* box = MakeMessageBox(spec, owned_by_window ? this : nullptr);
    connect(box, &QMessageBox::finished, box, [finish] { finish(); });
    if (owned_by_window) {
      box->open();  // modal to the window only
    } else {
      box->setWindowModality(Qt::NonModal);
      box->show();
    }
  });
}

void FlasherDlg::FinishRun() {
  SetButton(kWriteButtonId, "Write");
  EnableButton(kWriteButtonId, true);
  SetButton(kVerifyButtonId, "Verify");
  EnableButton(kVerifyButtonId, true);
  IdleBus();
  cancel_request_ = false;
  BusyFlag() = false;
  QMetaObject::invokeMethod(this, "RunEnded", Qt::QueuedConnection);
}

// ---- Worker start and the end of the window ----

void FlasherDlg::StartWorker(void (*worker)(FlasherDlg*)) {
  BusyFlag() = true;
  // A previous worker has already cleared the busy flag: only its return is left to wait for.
  JoinWorker();
  bool started = false;
  if (!fail_next_start_) {
    try {
      worker_ = std::thread(worker, this);
      started = true;
    } catch (const std::system_error&) {
    }
  }
  fail_next_start_ = false;
  if (started) return;
  BusyFlag() = false;
  cancel_request_ = false;
  IdleBus();
  ShowMessageBox({"The operation could not be started.", "Error", BoxIcon::Error}, this);
  SetStatus("Ready");
}

void FlasherDlg::JoinWorker() {
  if (worker_.joinable()) worker_.join();
}

void FlasherDlg::RunEnded() {
  if (!close_pending_) return;
  if (BusyFlag()) {
    // A new run started before this notice arrived; it ends the window when it has finished.
    cancel_request_ = true;
    return;
  }
  close_pending_ = false;
  QDialog::done(pending_result_);
}

void FlasherDlg::done(int result) {
  if (BusyFlag()) {
    // The run must not lose its window or its buffer: ask it to stop, and end when it has.
    cancel_request_ = true;
    close_pending_ = true;
    pending_result_ = result;
    return;
  }
  QDialog::done(result);
}

void FlasherDlg::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == 0) {
    // A focused push button has taken Enter itself.
    if (!qobject_cast<QPushButton*>(focusWidget())) {
      accept();
      return;
    }
  }
  QDialog::keyPressEvent(event);
}

void FlasherDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void FlasherDlg::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  OnDropFiles(event->mimeData()->urls());
}

}  // namespace quelt
