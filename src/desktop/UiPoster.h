// Stand-in for a stream's hidden window: messages posted to it are dispatched later, on
// the user-interface thread, to the procedure it was created with. Destroying a poster
// drops whatever was posted to it and not yet dispatched.
#pragma once

#include <cstdint>
#include <memory>

class UiPoster;
using PostedMessageProc = void (*)(UiPoster* target, unsigned message, std::uintptr_t wParam,
                                   std::uintptr_t lParam);

class UiPoster {
 public:
  UiPoster() = default;
  UiPoster(const UiPoster&) = delete;
  UiPoster& operator=(const UiPoster&) = delete;
  virtual ~UiPoster() = default;
  // Thread-safe. False when the message could not be queued.
  virtual bool Post(unsigned message, std::uintptr_t wParam, std::uintptr_t lParam) = 0;
};

class UiPosterFactory {
 public:
  UiPosterFactory() = default;
  UiPosterFactory(const UiPosterFactory&) = delete;
  UiPosterFactory& operator=(const UiPosterFactory&) = delete;
  virtual ~UiPosterFactory() = default;
  // Null when no poster can be made.
  virtual std::unique_ptr<UiPoster> Create(PostedMessageProc proc) = 0;
};
