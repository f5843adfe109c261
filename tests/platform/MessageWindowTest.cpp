#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include "platform/Exception.h"
#include "platform/MessageWindow.h"
#include "support/ModalBoxWatcher.h"

using sonarelle::MessageWindow;

namespace {

// Runs the event loop until `done` holds or five seconds pass.
template <class Pred>
bool SpinUntil(Pred done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return done();
}

TEST(MessageWindowTest, MessagesPostedFromAnotherThreadArriveInOrderOnTheOwnerThread) {
  std::vector<std::uintptr_t> seen;
  bool allOnOwner = true;
  QThread* owner = QThread::currentThread();
  MessageWindow window([&](unsigned msg, std::uintptr_t w, std::intptr_t l) {
    allOnOwner = allOnOwner && QThread::currentThread() == owner;
    if (msg == MessageWindow::kUserMessage + 1 && static_cast<std::intptr_t>(w) * 2 == l) {
      seen.push_back(w);
    }
  });
  std::thread worker([&] {
    for (std::uintptr_t i = 0; i < 1000; ++i) {
      window.PostMessage(MessageWindow::kUserMessage + 1, i, static_cast<std::intptr_t>(i * 2));
    }
  });
  worker.join();
  ASSERT_TRUE(SpinUntil([&] { return seen.size() == 1000; }));
  for (std::uintptr_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], i);
  EXPECT_TRUE(allOnOwner);
}

TEST(MessageWindowTest, SendFromAnotherThreadWaitsUntilHandled) {
  std::atomic<int> handled{0};
  MessageWindow window(
      [&](unsigned, std::uintptr_t w, std::intptr_t) { handled += static_cast<int>(w); });
  std::atomic<bool> returned{false};
  int seenAtReturn = -1;
  std::thread worker([&] {
    window.SendMessage(MessageWindow::kUserMessage, 5);
    seenAtReturn = handled;
    returned = true;
  });
  ASSERT_TRUE(SpinUntil([&] { return returned.load(); }));
  worker.join();
  EXPECT_EQ(seenAtReturn, 5);
  window.SendMessage(MessageWindow::kUserMessage, 2);  // same thread: at once
  EXPECT_EQ(handled, 7);
}

TEST(MessageWindowTest, TimersTickWithTheirIdUntilKilled) {
  int ticksOf7 = 0;
  int ticksOf9 = 0;
  MessageWindow* self = nullptr;
  MessageWindow window([&](unsigned msg, std::uintptr_t id, std::intptr_t) {
    if (msg != MessageWindow::kTimerMessage) return;
    if (id == 7 && ++ticksOf7 == 3) self->KillTimer(7);
    if (id == 9) ++ticksOf9;
  });
  self = &window;
  window.SetTimer(7, 5);
  window.SetTimer(9, 5);
  ASSERT_TRUE(SpinUntil([&] { return ticksOf9 >= 10; }));
  EXPECT_EQ(ticksOf7, 3);
  EXPECT_FALSE(window.HasTimer(7));
  EXPECT_TRUE(window.HasTimer(9));
}

TEST(MessageWindowTest, AnErrorInAHandlerIsShownAndTheLoopGoesOn) {
  ModalBoxWatcher boxes;
  int after = 0;
  MessageWindow window([&](unsigned msg, std::uintptr_t, std::intptr_t) {
    if (msg == 1) throw sonarelle::Exception(std::string("WaveInOpen:\n\rdevice gone"));
    ++after;
  });
  window.PostMessage(1);
  window.PostMessage(2);
  ASSERT_TRUE(SpinUntil([&] { return after == 1; }));
  ASSERT_EQ(boxes.Boxes().size(), 1);
  EXPECT_EQ(boxes.Boxes()[0].caption, "sonarelle recorder");
  EXPECT_EQ(boxes.Boxes()[0].text, "WaveInOpen:\n\rdevice gone");
  EXPECT_TRUE(boxes.Boxes()[0].critical);
}

TEST(MessageWindowTest, MessagesStillQueuedWhenTheWindowGoesAreDropped) {
  int handled = 0;
  {
    MessageWindow window([&](unsigned, std::uintptr_t, std::intptr_t) { ++handled; });
    window.PostMessage(MessageWindow::kUserMessage);
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(handled, 0);
}

}  // namespace

namespace {

TEST(ApplicationTest, AnErrorEscapingAQtSlotIsShownAndTheProgramGoesOn) {
  ModalBoxWatcher boxes;
  int later = 0;
  QTimer::singleShot(0, [] { throw sonarelle::Exception(std::string("Unable to write to x")); });
  QTimer::singleShot(5, [&] { ++later; });
  ASSERT_TRUE(SpinUntil([&] { return later == 1 && boxes.Boxes().size() == 1; }));
  EXPECT_EQ(boxes.Boxes()[0].text, "Unable to write to x");
  EXPECT_EQ(boxes.Boxes()[0].caption, "sonarelle recorder");
}

}  // namespace
