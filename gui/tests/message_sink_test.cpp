#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <list>
#include <thread>
#include <vector>

#include "gui_fixture.h"
#include "platform/message_box.h"
#include "qt_message_sink.h"

namespace {

using guitest::WaitUntil;

// The desktop sink installed for one test, the one before put back.
class MessageSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = platform::CurrentMessageSink();
    platform::InstallMessageSink(&sink);
  }
  void TearDown() override {
    sink.Shutdown();
    for (std::thread& thread : threads_) thread.join();
    platform::InstallMessageSink(previous_);
  }

  // A port thread that shows one box; the flag turns true once it got back.
  const std::atomic<bool>& StartBoxThread(std::function<void()> show) {
    std::atomic<bool>& returned = returned_.emplace_back(false);
    threads_.emplace_back([&returned, show] {
      show();
      returned = true;
    });
    return returned;
  }

  QMessageBox* BoxTitled(const QString& title) {
    for (QMessageBox* box : sink.OpenBoxes()) {
      if (box->windowTitle() == title) return box;
    }
    return nullptr;
  }

  vtgui::QtMessageSink sink;

 private:
  platform::MessageSink* previous_ = nullptr;
  std::list<std::atomic<bool>> returned_;
  std::vector<std::thread> threads_;
};

TEST_F(MessageSinkTest, EachPortThreadWaitsForItsOwnBoxOnly) {
  auto& first = StartBoxThread([] { ShowError("COM1", "Failed to open the log file\n"); });
  auto& second =
      StartBoxThread([] { ShowWarning("COM2", "Missing permission to overwrite Loader"); });
  ASSERT_TRUE(WaitUntil([&] { return sink.OpenBoxes().size() == 2; }));

  QMessageBox* error = BoxTitled("COM1: Error");
  QMessageBox* warning = BoxTitled("COM2: Warning");
  ASSERT_NE(error, nullptr);
  ASSERT_NE(warning, nullptr);
  EXPECT_EQ(error->text(), "Failed to open the log file\n");
  EXPECT_EQ(warning->text(), "Missing permission to overwrite Loader");
  for (QMessageBox* box : {error, warning}) {
    EXPECT_TRUE(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->standardButton(box->buttons().first()), QMessageBox::Ok);
  }
  EXPECT_EQ(error->icon(), QMessageBox::Critical);
  EXPECT_EQ(warning->icon(), QMessageBox::Warning);
  EXPECT_FALSE(first);
  EXPECT_FALSE(second);

  error->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(WaitUntil([&] { return first.load(); }));
  EXPECT_FALSE(second);
  EXPECT_EQ(sink.OpenBoxes().size(), 1);

  warning->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(WaitUntil([&] { return second.load(); }));
}

TEST_F(MessageSinkTest, ShutdownReleasesWaitingThreadsAndDropsLaterBoxes) {
  auto& waiting = StartBoxThread([] { ShowNotice("COM3", "Turn scanner power off"); });
  ASSERT_TRUE(WaitUntil([&] { return BoxTitled("COM3: ") != nullptr; }));
  EXPECT_FALSE(waiting);

  sink.Shutdown();
  ASSERT_TRUE(WaitUntil([&] { return waiting.load(); }));
  ASSERT_TRUE(WaitUntil([&] { return sink.OpenBoxes().empty(); }));

  // A box asked for during the teardown of the ports is not shown at all.
  auto& late = StartBoxThread([] { ShowError("COM3", "ReadFile"); });
  ASSERT_TRUE(WaitUntil([&] { return late.load(); }));
  EXPECT_TRUE(sink.OpenBoxes().empty());
}

TEST_F(MessageSinkTest, WindowThreadBoxHoldsItsCallerUntilOkWithoutBeingModal) {
  QString title;
  QString text;
  bool onTop = false;
  bool modal = true;
  bool callerWaited = false;
  bool returned = false;
  QObject::connect(&sink, &vtgui::QtMessageSink::windowBoxOpened, [&](QMessageBox* box) {
    title = box->windowTitle();
    text = box->text();
    onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    modal = box->windowModality() != Qt::NonModal || QApplication::activeModalWidget() != nullptr;
    // Answered later, from the box's own loop, as the operator would.
    QTimer::singleShot(0, box, [&, box] {
      callerWaited = !returned && sink.WindowBoxes() == QList<QMessageBox*>{box};
      box->button(QMessageBox::Ok)->click();
    });
  });
  ShowPlainError("Cannot read from file\n");
  returned = true;
  EXPECT_TRUE(callerWaited);
  EXPECT_EQ(title, "Error");
  EXPECT_EQ(text, "Cannot read from file\n");
  EXPECT_TRUE(onTop);
  EXPECT_FALSE(modal);
  EXPECT_TRUE(sink.WindowBoxes().isEmpty());
}

// A port thread being ended is let go of its box; the operator still sees it.
TEST_F(MessageSinkTest, ReleasedThreadGoesOnWhileItsBoxStays) {
  std::thread::id portThread;
  std::atomic<bool> idKnown{false};
  auto& returned = StartBoxThread([&] {
    portThread = std::this_thread::get_id();
    idKnown = true;
    ShowError("COM4", "ReadFile in rcvProc");
    // Released already: shown, but not waited for.
    ShowError("COM4", "GetCommModemStatus");
  });
  ASSERT_TRUE(WaitUntil([&] { return BoxTitled("COM4: Error") != nullptr; }));
  EXPECT_FALSE(returned);

  ASSERT_TRUE(idKnown.load());
  {
    platform::ScopedBoxRelease release({portThread});
    ASSERT_TRUE(WaitUntil([&] { return returned.load(); }));
  }
  ASSERT_TRUE(WaitUntil([&] { return sink.OpenBoxes().size() == 2; }));
  for (QMessageBox* box : sink.OpenBoxes()) box->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(WaitUntil([&] { return sink.OpenBoxes().empty(); }));
}

}  // namespace
