// A small thread class in the shape the program needs, and the queue that reaches
// the user-interface thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

constexpr unsigned WaitInfinite = 0xFFFFFFFFu;

class TEvent {
 public:
  void Set();
  void Reset();
  bool WaitFor(unsigned ms);  // true when set within ms (WaitInfinite: no limit)
  bool IsSet() const;

 private:
  mutable std::mutex m_;
  std::condition_variable cv_;
  bool set_ = false;
};
using TWaitHandle = std::shared_ptr<TEvent>;

enum class TThreadPriority { tpLowest, tpLower, tpNormal, tpHigher };

class TThread {
 public:
  // Suspended: Execute starts at Start(). Not suspended: constructed on the UI thread,
  // Start() is posted to the UI queue (it runs once the derived object is complete);
  // elsewhere the caller still calls Start(). Start() is idempotent.
  explicit TThread(bool CreateSuspended = true);
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  void Terminate();
  bool Terminated() const;
  bool FreeOnTerminate = false;               // deleted after OnTerminate, on the UI thread
  std::function<void(TThread&)> OnTerminate;  // UI thread, after Execute has returned
  TThreadPriority Priority = TThreadPriority::tpNormal;
  TWaitHandle Handle() const;  // signalled once Execute and OnTerminate have both run
  void WaitFor();              // blocks until Execute has returned
  // The owner lets go: a thread that has completed (or never started) is
  // deleted now; a running one deletes itself once Execute has returned, and
  // its OnTerminate no longer runs. The owner must not touch it afterwards.
  void Detach();
  bool Finished() const;  // Execute has returned

  // At exit: ask every live thread to stop and wait at most waitMs for them.
  // Returns true when none is still running.
  static bool TerminateAll(unsigned waitMs);
  static int LiveCount();

 protected:
  virtual void Execute() = 0;
  // Runs fn on the UI thread and blocks until it has run (errors raised by fn are
  // raised again here). Returns without running fn once the queue is closed.
  // On the UI thread itself fn runs at once; with no queue installed, too.
  void Synchronize(const std::function<void()>& fn);
  // Hands fn to the UI thread without waiting for it; it runs in order with the
  // thread's Synchronize calls. Dropped once the queue is closed, the object is gone or
  // its owner has let go (Detach). On the UI thread itself, or with no queue installed,
  // fn runs at once. fn runs without any lock of the thread held: it may delete the
  // thread object.
  void Queue(std::function<void()> fn);

 public:
  struct TShared;  // state that outlives the object (wait handle, flags)

 private:
  void Run();
  void Finish();
  std::shared_ptr<TShared> shared_;
  std::thread thread_;
  std::once_flag started_;
};

// The one owner of a worker that is started now and then (the certificate
// fetch, the message fetch): it holds the running one and knows when it ends.
// Its completion runs `done` on the UI thread and then deletes it; a new
// worker lets an older one go. Going first, the owner asks its worker to stop
// and lets it go: the completion no longer runs, and the worker frees itself
// at its end, so no pointer to it outlives it. Start may be called from any
// thread; the completion and the destructor run on the UI thread.
class TWorkerOwner {
 public:
  TWorkerOwner() = default;
  ~TWorkerOwner();
  TWorkerOwner(const TWorkerOwner&) = delete;
  TWorkerOwner& operator=(const TWorkerOwner&) = delete;
  // An owner given a new value (its holder starts afresh) lets its worker go;
  // the worker of the other stays with the other.
  TWorkerOwner& operator=(TWorkerOwner&&) noexcept {
    LetGo();
    return *this;
  }

  // Takes a thread that has not started (its FreeOnTerminate is cleared and
  // its OnTerminate replaced) and starts it.
  void Start(TThread* thread, std::function<void(TThread&)> done);
  // Asks the running worker to stop and lets it go (nothing when none runs).
  void LetGo();
  bool Running() const;

 private:
  mutable std::mutex FLock;
  TThread* FThread = nullptr;
};

class IUiQueue {
 public:
  virtual ~IUiQueue();
  virtual void Post(std::function<void()> fn) = 0;
  virtual bool IsUiThread() const = 0;
};

void InstallUiQueue(IUiQueue* queue);  // also reopens a closed queue
IUiQueue* UiQueue();
void CloseUiQueue();  // waiting Synchronize calls return; later ones do not wait
bool UiQueueClosed();

// TThread::Synchronize for code that is not a thread of its own (a hook that a
// worker calls): fn runs on the UI thread and the caller waits.
void RunOnUiThread(const std::function<void()>& fn);

// For tests and headless tools: the constructing thread is the UI thread.
class TPumpedUiQueue : public IUiQueue {
 public:
  TPumpedUiQueue();
  ~TPumpedUiQueue() override;
  void Post(std::function<void()> fn) override;
  bool IsUiThread() const override;
  void Pump();  // runs everything posted so far (and what those post meanwhile)
  // Pumps until done() is true (checked after each pump); false at the time-out.
  bool PumpUntil(const std::function<bool()>& done, unsigned timeoutMs);
  std::size_t Pending() const;

 private:
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> items_;
  std::thread::id uiThread_;
};
