// The window on an FTDI adapter named by QUELT_ADAPTER, through the simulated device of the
// stand-in libftdi1 (ctest puts it first on LD_LIBRARY_PATH): a write and a verify, two opens
// of one device, and an absent device whose reason goes to standard error under the usual box.
#include <QAbstractButton>
#include <QPushButton>
#include <cstdlib>

#include "app/control_ids.h"
#include "app/flasher_app.h"
#include "app/window_run.h"
#include "image/image_store.h"
#include "link/chip_type.h"
#include "tests/app/window/window_harness.h"

namespace quelt::test {
namespace {

class FtdiWindowTest : public WindowTest {};

TEST_F(FtdiWindowTest, WriteThenVerifyOrTheReasonNoDeviceOpened) {
  struct Row {
    const char* fake;  // QUELT_FAKE_FTDI
    QString write_box, verify_box;
    const char* err;
  };
  const Row rows[] = {
      {"dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20;chip=large",
       "Write complete!", "No error detected",
       "opened 0403:6001 \"FT232R USB UART\" serial \"A1\""},
      {"chip=large", "Quelt USB Adapter not found", "Quelt USB Adapter not found",
       "adapter: FTDI adapter: no device found (0403:6001, 0403:6014, 0403:6010)"},
  };
  const QString image = QString::fromStdString(WriteImageFile(dir_, "ftdi.qlz", 140000));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fake);
    ResetImageStoreForTests();
    ResetChipTypeForTests();
    setenv("QUELT_ADAPTER", "ftdi", 1);
    setenv("QUELT_FAKE_FTDI", row.fake, 1);
    ::testing::internal::CaptureStderr();
    std::vector<SeenBox> boxes;
    RunTool(nullptr, [&](FlasherDlg* dlg) {
      Answerer answerer(dlg);
      answerer.file_choice = image;
      for (int button : {kWriteButtonId, kVerifyButtonId}) {
        dlg->Button(button)->click();
        ASSERT_TRUE(WaitFor([&] { return !WindowRun::Busy() && !answerer.boxes.empty(); }));
        boxes.push_back(answerer.boxes.back());
        answerer.boxes.clear();
      }
      dlg->reject();
    });
    const std::string err = ::testing::internal::GetCapturedStderr();
    unsetenv("QUELT_ADAPTER");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].text.startsWith(row.write_box) || boxes[0].caption == row.write_box)
        << boxes[0].text.toStdString();
    EXPECT_TRUE(boxes[1].text == row.verify_box || boxes[1].caption == row.verify_box)
        << boxes[1].text.toStdString();
    EXPECT_NE(err.find(row.err), std::string::npos) << err;
  }
}

}  // namespace
}  // namespace quelt::test
