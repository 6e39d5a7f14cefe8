#include "core/uThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

class QueueTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallUiQueue(&queue); }
  void TearDown() override { InstallUiQueue(nullptr); }
  TPumpedUiQueue queue;
};

// A thread whose body is a lambda.
class TLambdaThread : public TThread {
 public:
  explicit TLambdaThread(std::function<void(TLambdaThread&)> body, bool* destroyed = nullptr,
                         bool suspended = true)
      : TThread(suspended), body_(std::move(body)), destroyed_(destroyed) {}
  ~TLambdaThread() override {
    WaitFor();
    if (destroyed_) *destroyed_ = true;
  }
  using TThread::Queue;
  using TThread::Synchronize;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(TLambdaThread&)> body_;
  bool* destroyed_;
};

TEST(EventTest, SetResetAndTimedWait) {
  TEvent e;
  EXPECT_FALSE(e.IsSet());
  EXPECT_FALSE(e.WaitFor(5));
  e.Set();
  EXPECT_TRUE(e.IsSet());
  EXPECT_TRUE(e.WaitFor(0));
  EXPECT_TRUE(e.WaitFor(WaitInfinite));
  e.Reset();
  EXPECT_FALSE(e.WaitFor(1));
  std::thread t([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    e.Set();
  });
  EXPECT_TRUE(e.WaitFor(5000));
  t.join();
}

TEST_F(QueueTest, SynchronizeRunsOnUiThreadAndBlocks) {
  std::atomic<int> stage{0};
  bool ranOnUi = false;
  TLambdaThread t([&](TLambdaThread& self) {
    self.Synchronize([&] {
      ranOnUi = queue.IsUiThread();
      stage = 1;
    });
    // Synchronize has returned only after fn ran.
    EXPECT_EQ(stage.load(), 1);
    stage = 2;
  });
  t.Start();
  ASSERT_TRUE(queue.PumpUntil([&] { return t.Finished(); }, 5000));
  EXPECT_TRUE(ranOnUi);
  EXPECT_EQ(stage.load(), 2);
}

TEST_F(QueueTest, SynchronizeWaitsUntilPumped) {
  std::atomic<bool> returned{false};
  TLambdaThread t([&](TLambdaThread& self) {
    self.Synchronize([] {});
    returned = true;
  });
  t.Start();
  // Not pumped: the worker must still be waiting.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(returned.load());
  EXPECT_EQ(queue.Pending(), 1u);
  queue.Pump();
  t.WaitFor();
  EXPECT_TRUE(returned.load());
}

TEST_F(QueueTest, SynchronizeRaisesTheUiErrorInTheWorker) {
  std::string caught;
  TLambdaThread t([&](TLambdaThread& self) {
    try {
      self.Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::exception& e) {
      caught = e.what();
    }
  });
  t.Start();
  ASSERT_TRUE(queue.PumpUntil([&] { return t.Finished(); }, 5000));
  EXPECT_EQ(caught, "boom");
}

TEST_F(QueueTest, OnTerminateRunsOnUiThreadAfterExecuteThenHandleIsSignalled) {
  std::vector<std::string> events;
  std::mutex m;
  auto add = [&](const std::string& s) {
    std::lock_guard<std::mutex> lk(m);
    events.push_back(s);
  };
  TLambdaThread t([&](TLambdaThread&) { add("execute"); });
  bool onUi = false;
  t.OnTerminate = [&](TThread& th) {
    onUi = queue.IsUiThread();
    EXPECT_EQ(&th, &t);
    EXPECT_FALSE(t.Handle()->IsSet());
    add("terminate");
  };
  TWaitHandle h = t.Handle();
  t.Start();
  t.WaitFor();
  // Execute has returned, but OnTerminate waits for the UI thread.
  EXPECT_FALSE(h->IsSet());
  ASSERT_TRUE(queue.PumpUntil([&] { return h->IsSet(); }, 5000));
  EXPECT_TRUE(onUi);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], "execute");
  EXPECT_EQ(events[1], "terminate");
}

TEST_F(QueueTest, FreeOnTerminateDeletesAfterOnTerminateOnUiThread) {
  bool destroyed = false;
  bool handlerSawAlive = false;
  auto* t = new TLambdaThread([](TLambdaThread&) {}, &destroyed);
  t->FreeOnTerminate = true;
  t->OnTerminate = [&](TThread&) { handlerSawAlive = !destroyed; };
  TWaitHandle h = t->Handle();
  t->Start();
  ASSERT_TRUE(queue.PumpUntil([&] { return h->IsSet(); }, 5000));
  EXPECT_TRUE(handlerSawAlive);
  EXPECT_TRUE(destroyed);
}

TEST_F(QueueTest, TerminateIsSeenByExecute) {
  std::atomic<bool> started{false};
  TLambdaThread t([&](TLambdaThread& self) {
    started = true;
    while (!self.Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  EXPECT_FALSE(t.Terminated());
  t.Start();
  while (!started) std::this_thread::yield();
  t.Terminate();
  EXPECT_TRUE(t.Terminated());
  t.WaitFor();
  EXPECT_TRUE(t.Finished());
}

TEST_F(QueueTest, ClosingTheQueueReleasesWaitingSynchronize) {
  std::atomic<bool> ran{false};
  std::atomic<int> after{0};
  TLambdaThread t([&](TLambdaThread& self) {
    self.Synchronize([&] { ran = true; });
    after = 1;
    // Once closed, later calls do not wait either.
    self.Synchronize([&] { ran = true; });
    after = 2;
  });
  t.Start();
  while (queue.Pending() == 0) std::this_thread::yield();
  CloseUiQueue();
  EXPECT_TRUE(UiQueueClosed());
  t.WaitFor();
  EXPECT_EQ(after.load(), 2);
  // The abandoned call never runs, even when the queue is pumped later.
  queue.Pump();
  EXPECT_FALSE(ran.load());
}

TEST_F(QueueTest, TerminateAllStopsLiveThreads) {
  std::atomic<int> running{0};
  auto body = [&](TLambdaThread& self) {
    ++running;
    while (!self.Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    --running;
  };
  TLambdaThread a(body), b(body);
  a.Start();
  b.Start();
  while (running < 2) std::this_thread::yield();
  EXPECT_EQ(TThread::LiveCount(), 2);
  EXPECT_TRUE(TThread::TerminateAll(5000));
  EXPECT_EQ(running.load(), 0);
  EXPECT_EQ(TThread::LiveCount(), 0);
}

TEST_F(QueueTest, TerminateAllReportsAThreadThatDoesNotStop) {
  std::atomic<bool> release{false};
  TLambdaThread t([&](TLambdaThread&) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  t.Start();
  EXPECT_FALSE(TThread::TerminateAll(20));
  release = true;
  t.WaitFor();
}

TEST_F(QueueTest, NotSuspendedStartsOnceTheUiThreadRuns) {
  std::atomic<bool> ran{false};
  TLambdaThread t([&](TLambdaThread&) { ran = true; }, nullptr, /*suspended=*/false);
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(ran.load());
  queue.Pump();  // the deferred start
  t.WaitFor();
  EXPECT_TRUE(ran.load());
  t.Start();  // a second start does nothing
}

TEST_F(QueueTest, SynchronizeOnTheUiThreadRunsAtOnce) {
  TLambdaThread t([](TLambdaThread&) {});
  bool ran = false;
  t.Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(NoQueueTest, WithoutAQueueWorkRunsInTheWorker) {
  InstallUiQueue(nullptr);
  std::thread::id worker, handler;
  bool synced = false;
  TLambdaThread t([&](TLambdaThread& self) {
    worker = std::this_thread::get_id();
    self.Synchronize([&] { synced = true; });
  });
  t.OnTerminate = [&](TThread&) { handler = std::this_thread::get_id(); };
  TWaitHandle h = t.Handle();
  t.Start();
  ASSERT_TRUE(h->WaitFor(5000));
  EXPECT_TRUE(synced);
  EXPECT_EQ(worker, handler);
}

// Without a queue a FreeOnTerminate thread deletes itself in the worker, which
// may happen before Start has returned to its caller.
TEST(NoQueueTest, AThreadThatFreesItselfAtOnceOutlivesItsStart) {
  InstallUiQueue(nullptr);
  class TCountedThread : public TThread {
   public:
    explicit TCountedThread(std::atomic<int>& gone) : TThread(true), gone_(gone) { FreeOnTerminate = true; }
    ~TCountedThread() override { ++gone_; }

   protected:
    void Execute() override {}

   private:
    std::atomic<int>& gone_;
  };
  std::atomic<int> gone{0};
  const int kThreads = 300;
  for (int i = 0; i < kThreads; ++i) (new TCountedThread(gone))->Start();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (gone < kThreads && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(gone, kThreads);
}

TEST(ThreadTest, ErrorInExecuteEndsTheThreadCleanly) {
  TPumpedUiQueue queue;
  InstallUiQueue(&queue);
  bool handled = false;
  TLambdaThread t([](TLambdaThread&) { throw std::runtime_error("failed"); });
  t.OnTerminate = [&](TThread&) { handled = true; };
  t.Start();
  EXPECT_TRUE(queue.PumpUntil([&] { return handled; }, 5000));
  InstallUiQueue(nullptr);
}

TEST(ThreadTest, PumpUntilTimesOut) {
  TPumpedUiQueue queue;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(queue.PumpUntil([] { return false; }, 20));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

}  // namespace

namespace {

// The owner of a worker started now and then: its completion runs once and
// the worker is deleted; a later worker lets the earlier go; the owner's end
// stops the running one, whose completion then never runs, and the worker
// still frees itself.
TEST_F(QueueTest, WorkerOwnerKnowsWhenItsWorkerEnds) {
  std::atomic<bool> release{false};
  const auto blocked = [&](TLambdaThread& self) {
    while (!release && !self.Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  };
  std::vector<std::string> done;
  bool firstGone = false, secondGone = false, thirdGone = false;
  auto owner = std::make_unique<TWorkerOwner>();

  owner->Start(new TLambdaThread(blocked, &firstGone), [&](TThread&) { done.push_back("first"); });
  EXPECT_TRUE(owner->Running());
  owner->Start(new TLambdaThread(blocked, &secondGone), [&](TThread&) { done.push_back("second"); });
  release = true;
  ASSERT_TRUE(queue.PumpUntil([&] { return firstGone && secondGone; }, 5000));
  EXPECT_EQ(done, std::vector<std::string>{"second"});  // the first was let go
  EXPECT_FALSE(owner->Running());

  release = false;
  bool stopped = false;
  owner->Start(new TLambdaThread(
                   [&](TLambdaThread& self) {
                     blocked(self);
                     stopped = self.Terminated();
                   },
                   &thirdGone),
               [&](TThread&) { done.push_back("third"); });
  owner.reset();  // the window goes while the worker runs
  ASSERT_TRUE(queue.PumpUntil([&] { return thirdGone; }, 5000));
  EXPECT_TRUE(stopped);
  EXPECT_EQ(done, std::vector<std::string>{"second"});
  EXPECT_EQ(TThread::LiveCount(), 0);
}

// A completion handed over by Queue may delete its own thread: it runs with
// no lock of the thread held, so the destructor finds none taken.
TEST_F(QueueTest, AQueuedCompletionDeletesItsOwnThread) {
  bool destroyed = false;
  bool ran = false;
  TLambdaThread* thread = nullptr;
  thread = new TLambdaThread(
      [&](TLambdaThread& self) {
        self.Queue([&] {
          ran = true;
          delete thread;
        });
      },
      &destroyed);
  thread->Start();
  ASSERT_TRUE(queue.PumpUntil([&] { return destroyed; }, 5000));
  EXPECT_TRUE(ran);
  queue.Pump();  // the completion of a thread that has gone does nothing
  EXPECT_EQ(TThread::LiveCount(), 0);
}

}  // namespace
