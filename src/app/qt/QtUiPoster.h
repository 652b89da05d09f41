// The output engine's posters on the Qt event loop: each poster is a QObject whose posted
// events are dispatched on the thread it lives on (the user-interface thread). Qt removes
// an object's pending posted events when the object is destroyed.
#pragma once

#include "desktop/UiPoster.h"

class QtUiPosterFactory final : public UiPosterFactory {
 public:
  std::unique_ptr<UiPoster> Create(PostedMessageProc proc) override;
};
