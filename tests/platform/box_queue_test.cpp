// The desktop sinks' queue of port-thread boxes: who waits, who is let go,
// and what is dropped when the program closes.
#include "platform/box_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace platform {
namespace {

// A port thread that asks for one box and notes when its Show returned.
class PortThread {
 public:
  explicit PortThread(BoxQueue& queue, const char* text = "ReadFile")
      : thread_([this, &queue, text] {
          std::shared_ptr<BoxQueue::Waiter> waiter;
          accepted_.store(queue.Enqueue(BoxKind::kError, "COM3: Error", text, waiter));
          queue.Wait(waiter);
          returned_.store(true);
        }) {}
  ~PortThread() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::thread::id Id() const { return thread_.get_id(); }
  bool Returned() const { return returned_.load(); }
  bool Accepted() const { return accepted_.load(); }

 private:
  std::atomic<bool> accepted_{false};
  std::atomic<bool> returned_{false};
  std::thread thread_;
};

// The window thread's side: the next box asked for. A queue that never
// hands it over fails the test (and answers nothing) instead of hanging it.
BoxQueue::Request NextRequest(BoxQueue& queue) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    std::vector<BoxQueue::Request> taken = queue.Take();
    if (!taken.empty()) {
      EXPECT_EQ(taken.size(), 1u);
      return taken.front();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ADD_FAILURE() << "no box was asked for";
  queue.Close();  // lets the waiting port thread go, so the test can end
  return {};
}

TEST(BoxQueueTest, APortThreadWaitsUntilItsBoxIsAnswered) {
  BoxQueue queue;
  PortThread port(queue);
  const BoxQueue::Request request = NextRequest(queue);
  EXPECT_EQ(request.kind, BoxKind::kError);
  EXPECT_EQ(request.caption, "COM3: Error");
  EXPECT_EQ(request.text, "ReadFile");
  ASSERT_NE(request.waiter, nullptr);
  EXPECT_EQ(request.waiter->Thread(), port.Id());
  EXPECT_FALSE(port.Returned()) << "nobody has answered the box";

  request.waiter->Release();
  port.Join();
  EXPECT_TRUE(port.Returned());
  EXPECT_TRUE(queue.Take().empty());
}

TEST(BoxQueueTest, AReleasedThreadGoesOnAndItsLaterBoxesHoldItNoLonger) {
  BoxQueue queue;
  PortThread port(queue);
  const BoxQueue::Request first = NextRequest(queue);
  queue.ReleaseThread(port.Id());
  port.Join();
  EXPECT_TRUE(port.Returned()) << "the box stays for the operator; the thread goes on";

  // The same thread id asking again (as a released thread would) is shown a
  // box nobody waits for; once forgotten, a thread with that id waits again.
  const std::thread::id self = std::this_thread::get_id();
  queue.ReleaseThread(self);
  std::shared_ptr<BoxQueue::Waiter> waiter;
  ASSERT_TRUE(queue.Enqueue(BoxKind::kNotice, "COM3: ", "Turn scanner power off", waiter));
  EXPECT_EQ(waiter, nullptr);
  queue.Wait(waiter);  // returns at once
  const std::vector<BoxQueue::Request> shown = queue.Take();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Turn scanner power off");
  EXPECT_EQ(shown[0].waiter, nullptr);

  queue.ForgetThread(self);
  ASSERT_TRUE(queue.Enqueue(BoxKind::kNotice, "COM3: ", "again", waiter));
  ASSERT_NE(waiter, nullptr);
  EXPECT_EQ(waiter->Thread(), self);
  if (first.waiter) first.waiter->Release();  // answering twice does no harm
}

TEST(BoxQueueTest, ClosingLetsEveryWaiterGoAndDropsWhatComesAfter) {
  BoxQueue queue;
  PortThread first(queue, "first");
  const BoxQueue::Request taken = NextRequest(queue);
  EXPECT_EQ(taken.text, "first");
  EXPECT_FALSE(queue.IsClosed());

  // A box asked for but not shown yet goes with the queue.
  queue.ReleaseThread(std::this_thread::get_id());
  std::shared_ptr<BoxQueue::Waiter> none;
  ASSERT_TRUE(queue.Enqueue(BoxKind::kWarning, "COM3: Warning", "unshown", none));

  queue.Close();
  first.Join();
  EXPECT_TRUE(first.Returned());
  EXPECT_TRUE(queue.IsClosed());

  PortThread late(queue, "late");
  late.Join();
  EXPECT_FALSE(late.Accepted());
  EXPECT_TRUE(late.Returned());
  EXPECT_TRUE(queue.Take().empty());
}

}  // namespace
}  // namespace platform
