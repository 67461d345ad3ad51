// The window's template, initialisation, status line, forwarding from the worker, and its end.
#include "app/flasher_dlg.h"

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
#include <optional>
#include <semaphore>
#include <string_view>

#include "app/about_dlg.h"
#include "app/client_area.h"
#include "app/control_ids.h"
#include "app/dialog_font.h"
#include "app/paint/skin.h"
#include "app/paint/templates.h"
#include "settings/safe_mode.h"
#include "texts/user_texts.h"

namespace quelt {

FlasherDlg::FlasherDlg(QWidget* parent) : QDialog(parent), icon_(LoadAppIcon(IDR_MAINFRAME)) {
  SetTitle(QString::fromUtf8(kFlasherTemplate.caption));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  BuildMenu();
  BuildTemplate();
}

FlasherDlg::~FlasherDlg() { JoinWorker(); }

void FlasherDlg::BuildMenu() {
  menu_ = new QMenuBar(this);
  QMenu* popup = nullptr;
  std::string_view popup_title;
  for (const MenuItemTemplate& item : kFlasherMenu) {
    if (!popup || item.popup != popup_title) {
      popup = menu_->addMenu(QString::fromUtf8(item.popup));
      popup_title = item.popup;
    }
    QAction* action = popup->addAction(QString::fromUtf8(item.text));
    action->setData(item.id);
    if (item.checked) {
      action->setCheckable(true);
      action->setChecked(true);
    }
    switch (item.id) {
      case kLoadBiosCommand:
        load_bios_ = action;
        connect(action, &QAction::triggered, this, &FlasherDlg::OnLoadBios);
        break;
      case kExitCommand:
        exit_ = action;
        connect(action, &QAction::triggered, this, &QDialog::accept);
        break;
      case kSafeModeCommand:
        safe_mode_item_ = action;
        // A checkable action flips its mark before it reports the trigger; put the mark back
        // so that the handler reads the state the user saw.
        connect(action, &QAction::triggered, this, [this](bool checked) {
          safe_mode_item_->setChecked(!checked);
          OnSafeMode();
        });
        break;
      case kAboutCommand:
        about_ = action;
        connect(action, &QAction::triggered, this, &FlasherDlg::OnAbout);
        break;
    }
  }
}

void FlasherDlg::BuildTemplate() {
  client_ = new ClientArea(this);
  // The controls' face; the menu bar keeps the desktop's.
  client_->setFont(DialogFont());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->setMenuBar(menu_);
  layout->addWidget(client_);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // Created in the template's (tab) order.
  QWidget* group = nullptr;
  for (const ControlTemplate& control : kFlasherControls) {
    const QString text = QString::fromUtf8(control.text);
    QWidget* widget = nullptr;
    switch (control.kind) {
      case ControlKind::PushButton: {
        auto* button = new QPushButton(text, client_);
        button->setDefault((control.style & BS_DEFPUSHBUTTON) != 0);
        widget = button;
        if (control.id == kWriteButtonId) write_ = button;
        if (control.id == kVerifyButtonId) verify_ = button;
        break;
      }
      case ControlKind::StaticText: {
        auto* label = new QLabel(text, client_);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(false);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        if (control.id == kStatusLineId) status_ = label;
        break;
      }
      case ControlKind::ProgressBar:
        progress_ = new QProgressBar(client_);
        progress_->setRange(0, 100);
        progress_->setValue(0);
        progress_->setTextVisible(false);
        widget = progress_;
        break;
      case ControlKind::EtchedLine: {
        auto* line = new QFrame(client_);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        widget = line;
        break;
      }
      case ControlKind::GroupBox:
        group = widget = new QGroupBox(text, client_);
        break;
      case ControlKind::Icon: {
        auto* icon = new QLabel(client_);
        icon->setPixmap(LoadAppIcon(control.icon).pixmap(kIconPixels, kIconPixels));
        widget = icon;
        break;
      }
    }
    widget->setGeometry(control.Pixels());
  }
  if (group) group->lower();  // the frame stays behind what it frames

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
  safe_mode_ = true;
  image_loaded_ = false;
  title_text_ = kAppTitle;

  if (!client_->LoadLogo(logo_id_)) {
    ShowMessageBox({"Error while loading background image", {}, BoxIcon::None}, this);
    // A reject before the modal run starts would be lost: queue it.
    QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
  }

  setAcceptDrops(true);
  setWindowIcon(icon_);

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

void FlasherDlg::SetTitle(const QString& title) {
  // Qt takes "[*]" for the place of the modified marker and "[*][*]" for a literal "[*]":
  // doubled, every "[*]" of an image name shows as it stands.
  QString literal = title;
  setWindowTitle(literal.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]")));
}

void FlasherDlg::OnAbout() {
  // Window-modal (set by the box itself): the window waits, an ownerless box stays usable.
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

void FlasherDlg::ShowBoxAndWait(const BoxContent& content, bool owned_by_window) {
  if (OnWindowThread()) {
    ShowMessageBox(content, owned_by_window ? this : nullptr);
    return;
  }
  ForwardUntilFinished([this, &content, owned_by_window](const Finish& finish) {
    QMessageBox* box = MakeMessageBox(content, owned_by_window ? this : nullptr);
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
  run_.Finish();
  QMetaObject::invokeMethod(this, "RunEnded", Qt::QueuedConnection);
}

// ---- The end of the window ----

void FlasherDlg::RunEnded() {
  if (const std::optional<int> result = run_.TakeDeferredClose()) QDialog::done(*result);
}

void FlasherDlg::done(int result) {
  if (!run_.DeferClose(result)) QDialog::done(result);
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
  // Taken at once, so that the drag source is not held while the load shows its boxes; the
  // load runs right after this event.
  event->acceptProposedAction();
  const QList<QUrl> urls = event->mimeData()->urls();
  QMetaObject::invokeMethod(
      this, [this, urls] { OnDropFiles(urls); }, Qt::QueuedConnection);
}

}  // namespace quelt
