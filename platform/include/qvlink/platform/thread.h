// OS thread running a plain function. The destructor joins a thread still running (so it
// blocks until the thread ends); call join() first where that wait must happen elsewhere.
#pragma once

namespace qv::platform {

class Thread {
 public:
  using Entry = void (*)(void* arg);
  Thread() = default;
  // Joins a thread still running, so no thread outlives its object.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts the thread; false when it could not be created or when this object's previous
  // thread has not been joined, even if it has ended. Call join() before starting again.
  bool start(Entry entry, void* arg);
  // Raises the thread to time-critical priority; best effort (false when refused).
  bool setTimeCritical();
  // Waits for the thread to end; true when it has ended (or was never started), false when
  // called from that thread itself or when the wait fails.
  bool join();
  // True while the started thread has not ended.
  bool running() const;

 private:
  struct Impl;
  Impl* impl_ = nullptr;
};

// Whether a library being unloaded, or a process exiting, may still stop its threads and wait
// for them. POSIX: yes. Win32: no: DllMain holds the loader lock that a thread needs to end,
// and at process exit the loader has ended the other threads already.
bool ThreadsJoinableAtUnload();

}  // namespace qv::platform
