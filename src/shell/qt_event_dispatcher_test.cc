#include "shell/qt_event_dispatcher.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <thread>

#include "shell/shell_test_support.h"

namespace gateway {
namespace {

TEST(QtEventDispatcherTest, WorkPostedFromAnotherThreadRunsOnTheOwnersThreadInOrder) {
  QtEventDispatcher dispatcher;
  std::vector<int> order;
  std::vector<bool> on_main_thread;
  std::thread poster([&] {
    for (int i = 0; i < 3; ++i) {
      dispatcher.Post([&, i] {
        order.push_back(i);
        on_main_thread.push_back(QThread::currentThread() == qApp->thread());
      });
    }
  });
  poster.join();
  EXPECT_TRUE(order.empty());  // nothing runs on the posting thread
  ASSERT_TRUE(ProcessEventsUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(on_main_thread, (std::vector<bool>{true, true, true}));
}

TEST(QtEventDispatcherTest, WorkStillQueuedWhenTheDispatcherGoesIsDropped) {
  bool ran = false;
  {
    QtEventDispatcher dispatcher;
    dispatcher.Post([&] { ran = true; });
  }
  ProcessEventsUntil([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace gateway
