// Hands keys from the remote server's threads to the thread that owns the MIDI port (the
// panel's user-interface thread, or the headless mode's loop) and waits, bounded, for
// what the key routine made of each. Each key runs there through the same routine as a
// click on the panel.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "desktop/UiPoster.h"

struct KeyRow;

enum class KeyStatus {
  Sent,         // the key routine handed every byte to the MIDI output
  DeviceError,  // the device refused; text is the device error as the panel would show it
  NotSent,      // refused without an error (the output still busy with earlier keys)
  Busy,         // the owner could not take a key now (a dialog is open, too many waiting)
  TimedOut,     // no answer within the bound
  Stopped,      // the remote control is stopping
};

struct KeyOutcome {
  KeyStatus status = KeyStatus::NotSent;
  std::string text;  // for the user: "sent", or why not
};

// The owner's key routine. Runs on the owning thread only.
class KeyRoutine {
 public:
  KeyRoutine() = default;
  KeyRoutine(const KeyRoutine&) = delete;
  KeyRoutine& operator=(const KeyRoutine&) = delete;
  virtual ~KeyRoutine() = default;
  virtual KeyOutcome PressKey(const KeyRow& row) = 0;
};

// Runs `press` (one key through the key routine; its result is the port's: 1 when every
// byte was accepted) with the device-error boxes caught instead of shown and the error
// beeps left out: the person who pressed a remote key is not at this screen. Owning
// thread only.
KeyOutcome PressWithErrorsCaught(int (*press)(const KeyRow&, void*), const KeyRow& row, void* context);

class KeyDispatcher {
 public:
  // At most this many keys wait for the owner at once; more are refused as Busy.
  static constexpr std::size_t kMaxWaiting = 16;

  // `posters` makes the poster that wakes the owning thread; both must outlive this.
  KeyDispatcher(UiPosterFactory& posters, KeyRoutine& routine);
  KeyDispatcher(const KeyDispatcher&) = delete;
  KeyDispatcher& operator=(const KeyDispatcher&) = delete;
  // Close() first when other threads may still press.
  ~KeyDispatcher();

  // Any thread but the owning one. Presses the key on the owning thread and waits at
  // most `bound` for the outcome. A key the owner had not taken when the bound ran out is
  // dropped, never pressed later.
  KeyOutcome Press(const KeyRow& row, std::chrono::milliseconds bound);
  // Refuses every later key and answers the waiting ones with Stopped. Any thread.
  void Close();

 private:
  struct Request;
  static void OnPosted(UiPoster* target, unsigned message, std::uintptr_t wParam, std::uintptr_t lParam);
  void RunWaiting();

  KeyRoutine& m_routine;
  std::unique_ptr<UiPoster> m_poster;
  std::mutex m_mutex;
  std::deque<std::shared_ptr<Request>> m_waiting;
  bool m_closed = false;
};
