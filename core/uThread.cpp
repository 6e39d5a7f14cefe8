#include "core/uThread.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <set>

#include <windows.h>

// ---- TEvent ----

void TEvent::Set() {
  {
    std::lock_guard<std::mutex> lk(m_);
    set_ = true;
  }
  cv_.notify_all();
}

void TEvent::Reset() {
  std::lock_guard<std::mutex> lk(m_);
  set_ = false;
}

bool TEvent::WaitFor(unsigned ms) {
  std::unique_lock<std::mutex> lk(m_);
  if (ms == WaitInfinite) {
    cv_.wait(lk, [this] { return set_; });
    return true;
  }
  return cv_.wait_for(lk, std::chrono::milliseconds(ms), [this] { return set_; });
}

bool TEvent::IsSet() const {
  std::lock_guard<std::mutex> lk(m_);
  return set_;
}

// ---- the UI queue ----

namespace {

std::atomic<IUiQueue*> gQueue{nullptr};
// Guards the closed flag and every Synchronize hand-over.
std::mutex gSyncM;
std::condition_variable gSyncCv;
bool gClosed = false;

bool QueueClosed() {
  std::lock_guard<std::mutex> lk(gSyncM);
  return gClosed;
}

struct TSyncState {
  bool started = false;
  bool done = false;
  bool abandoned = false;
  std::exception_ptr error;
};

}  // namespace

IUiQueue::~IUiQueue() = default;

void InstallUiQueue(IUiQueue* queue) {
  {
    std::lock_guard<std::mutex> lk(gSyncM);
    gClosed = false;
  }
  gQueue.store(queue);
}

IUiQueue* UiQueue() { return gQueue.load(); }

void CloseUiQueue() {
  {
    std::lock_guard<std::mutex> lk(gSyncM);
    gClosed = true;
  }
  gSyncCv.notify_all();
}

bool UiQueueClosed() { return QueueClosed(); }

// ---- TThread ----

struct TThread::TShared {
  std::atomic<bool> terminated{false};
  TWaitHandle handle = std::make_shared<TEvent>();
  TEvent executeDone;
  std::atomic<bool> running{false};
  // The object while it exists; cleared by the destructor so that queued work for a
  // deleted thread does nothing.
  std::mutex ownerM;
  TThread* owner = nullptr;
  // Under ownerM: the owner gave the object to its thread (Detach), and the
  // completion has run (after it nothing of the thread touches the object).
  bool detached = false;
  bool completed = false;
  // Held by Start until the std::thread is stored: a thread that frees itself at
  // once must not delete the object before Start has written into it.
  std::mutex startM;
};

namespace {

std::mutex gLiveM;
std::condition_variable gLiveCv;
std::set<TThread::TShared*>* gLive = new std::set<TThread::TShared*>();  // never freed: used at exit

void ApplyPriority(TThreadPriority p) {
  // Best effort: the system may refuse a rise, and a thread starts at normal.
  switch (p) {
    case TThreadPriority::tpLowest:
      SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
      break;
    case TThreadPriority::tpLower:
      SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
      break;
    default:
      return;
  }
}

}  // namespace

TThread::TThread(bool CreateSuspended) : shared_(std::make_shared<TShared>()) {
  shared_->owner = this;
  if (!CreateSuspended) {
    // Execute may start only once the derived object is complete: on the UI thread that
    // is after the current handler has returned.
    IUiQueue* q = UiQueue();
    if (q && q->IsUiThread() && !QueueClosed()) {
      std::shared_ptr<TShared> s = shared_;
      q->Post([s] {
        std::lock_guard<std::mutex> lk(s->ownerM);
        if (s->owner) s->owner->Start();
      });
    }
  }
}

TThread::~TThread() {
  {
    std::lock_guard<std::mutex> lk(shared_->ownerM);
    shared_->owner = nullptr;
  }
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      shared_->terminated = true;
      thread_.join();
    }
  }
}

void TThread::Start() {
  std::call_once(started_, [this] {
    {
      std::lock_guard<std::mutex> lk(gLiveM);
      gLive->insert(shared_.get());
      shared_->running = true;
    }
    std::shared_ptr<TShared> s = shared_;
    std::lock_guard<std::mutex> stored(s->startM);
    thread_ = std::thread([this, s] {
      { std::lock_guard<std::mutex> wait(s->startM); }
      Run();
    });
  });
}

void TThread::Terminate() { shared_->terminated = true; }

bool TThread::Terminated() const { return shared_->terminated.load(); }

TWaitHandle TThread::Handle() const { return shared_->handle; }

void TThread::WaitFor() {
  if (!shared_->running.load() && !shared_->executeDone.IsSet()) return;  // never started
  shared_->executeDone.WaitFor(WaitInfinite);
}

bool TThread::Finished() const { return shared_->executeDone.IsSet(); }

void TThread::Run() {
  std::shared_ptr<TShared> shared = shared_;
  ApplyPriority(Priority);
  try {
    Execute();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "korvane: thread ended by an error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "korvane: thread ended by an unknown error\n");
  }
  shared->executeDone.Set();
  {
    std::lock_guard<std::mutex> lk(gLiveM);
    gLive->erase(shared.get());
    shared->running = false;
  }
  gLiveCv.notify_all();
  Finish();
}

void TThread::Finish() {
  std::shared_ptr<TShared> shared = shared_;
  auto complete = [shared](bool runHandler) {
    TThread* self;
    bool detached;
    {
      std::lock_guard<std::mutex> lk(shared->ownerM);
      self = shared->owner;
      detached = shared->detached;
    }
    if (self && runHandler && !detached && self->OnTerminate) {
      // A copy: the handler may delete the thread object (its owner's choice).
      const std::function<void(TThread&)> handler = self->OnTerminate;
      try {
        handler(*self);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "korvane: completion handler failed: %s\n", e.what());
      } catch (...) {
        std::fprintf(stderr, "korvane: completion handler failed\n");
      }
    }
    bool free;
    {
      std::lock_guard<std::mutex> lk(shared->ownerM);
      self = shared->owner;  // null when the handler deleted the object
      free = self && (self->FreeOnTerminate || shared->detached);
      shared->completed = true;
    }
    shared->handle->Set();
    if (free) delete self;
  };
  IUiQueue* q = UiQueue();
  if (q && !QueueClosed()) {
    // From here on the object may be deleted on the UI thread at any moment.
    q->Post([complete] { complete(true); });
    return;
  }
  // No UI thread to hand over to: with no queue at all the handler runs here; once the
  // queue is closed the program is ending and the handler is skipped.
  complete(q == nullptr);
}

void TThread::Detach() {
  bool deleteNow;
  {
    std::lock_guard<std::mutex> lk(shared_->ownerM);
    deleteNow = shared_->completed || (!shared_->running.load() && !shared_->executeDone.IsSet());
    if (!deleteNow) shared_->detached = true;
  }
  // Completed, or never started: nothing else will ever touch the object.
  if (deleteNow) delete this;
}

TWorkerOwner::~TWorkerOwner() { LetGo(); }

void TWorkerOwner::Start(TThread* thread, std::function<void(TThread&)> done) {
  thread->FreeOnTerminate = false;
  thread->OnTerminate = [this, done = std::move(done)](TThread& t) {
    // Only the owner's current worker still has its completion (an older one
    // was let go), and the owner still stands (its end lets the worker go).
    {
      std::lock_guard<std::mutex> g(FLock);
      if (FThread == &t) FThread = nullptr;
    }
    std::unique_ptr<TThread> finished(&t);
    if (done) done(t);
  };
  {
    std::lock_guard<std::mutex> g(FLock);
    if (FThread) FThread->Detach();  // one at a time: the older one is let go
    FThread = thread;
    // Started under the lock: the completion cannot run before FThread is set.
    thread->Start();
  }
}

void TWorkerOwner::LetGo() {
  std::lock_guard<std::mutex> g(FLock);
  if (!FThread) return;
  FThread->Terminate();
  FThread->Detach();
  FThread = nullptr;
}

bool TWorkerOwner::Running() const {
  std::lock_guard<std::mutex> g(FLock);
  return FThread != nullptr;
}

bool TThread::TerminateAll(unsigned waitMs) {
  std::unique_lock<std::mutex> lk(gLiveM);
  for (TShared* s : *gLive) s->terminated = true;
  return gLiveCv.wait_for(lk, std::chrono::milliseconds(waitMs), [] { return gLive->empty(); });
}

int TThread::LiveCount() {
  std::lock_guard<std::mutex> lk(gLiveM);
  return static_cast<int>(gLive->size());
}

void TThread::Synchronize(const std::function<void()>& fn) { RunOnUiThread(fn); }

void TThread::Queue(std::function<void()> fn) {
  IUiQueue* q = UiQueue();
  if (QueueClosed()) return;
  if (!q || q->IsUiThread()) {
    fn();
    return;
  }
  std::shared_ptr<TShared> shared = shared_;
  q->Post([shared, fn = std::move(fn)] {
    {
      std::lock_guard<std::mutex> lk(shared->ownerM);
      if (!shared->owner || shared->detached || QueueClosed()) return;
    }
    // Not under the lock: the object is deleted only on this thread (by its
    // owner or its completion, both queued behind fn) while the queue is open,
    // so it stands while fn runs, and fn itself may delete it.
    fn();
  });
}

void RunOnUiThread(const std::function<void()>& fn) {
  IUiQueue* q = UiQueue();
  if (QueueClosed()) return;
  if (!q || q->IsUiThread()) {
    fn();
    return;
  }
  auto st = std::make_shared<TSyncState>();
  q->Post([st, fn] {
    {
      std::lock_guard<std::mutex> lk(gSyncM);
      if (st->abandoned) return;
      st->started = true;
    }
    std::exception_ptr error;
    try {
      fn();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lk(gSyncM);
      st->error = std::move(error);
      st->done = true;
    }
    gSyncCv.notify_all();
  });
  std::unique_lock<std::mutex> lk(gSyncM);
  // Once the queue closes, a call that has not started is abandoned; one that is running
  // is waited for, since it may use the caller's data.
  gSyncCv.wait(lk, [&] { return st->done || (gClosed && !st->started); });
  if (!st->done) {
    st->abandoned = true;
    return;
  }
  if (st->error) {
    // The caller takes the error over: the UI thread's copy goes here, under the
    // lock, so the exception is freed by the thread that catches it and never
    // on the UI thread while the caller may still be reading it.
    std::exception_ptr e = std::move(st->error);
    st->error = nullptr;
    lk.unlock();
    std::rethrow_exception(e);
  }
}

// ---- TPumpedUiQueue ----

TPumpedUiQueue::TPumpedUiQueue() : uiThread_(std::this_thread::get_id()) {}

TPumpedUiQueue::~TPumpedUiQueue() {
  if (UiQueue() == this) {
    CloseUiQueue();
    gQueue.store(nullptr);
  }
}

void TPumpedUiQueue::Post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lk(m_);
    items_.push_back(std::move(fn));
  }
  cv_.notify_all();
}

bool TPumpedUiQueue::IsUiThread() const { return std::this_thread::get_id() == uiThread_; }

void TPumpedUiQueue::Pump() {
  for (;;) {
    std::function<void()> fn;
    {
      std::lock_guard<std::mutex> lk(m_);
      if (items_.empty()) return;
      fn = std::move(items_.front());
      items_.pop_front();
    }
    fn();
  }
}

bool TPumpedUiQueue::PumpUntil(const std::function<bool()>& done, unsigned timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    Pump();
    if (done()) return true;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    // Wake on new work, or re-check done() every few milliseconds.
    auto until = std::min(deadline, now + std::chrono::milliseconds(5));
    std::unique_lock<std::mutex> lk(m_);
    cv_.wait_until(lk, until, [this] { return !items_.empty(); });
  }
}

std::size_t TPumpedUiQueue::Pending() const {
  std::lock_guard<std::mutex> lk(m_);
  return items_.size();
}
