// What start-up and the menu commands ask of the front end's toolkit. One implementation
// per toolkit, in app/<toolkit>/; CreateFrontEnd makes the one this build has. Everything
// here runs on the user-interface thread.
#pragma once

#include <memory>

class CPanelDlg;
class UiPosterFactory;
class UiThreadInvoker;
class WaitCursor;

class FrontEnd {
 public:
  FrontEnd() = default;
  FrontEnd(const FrontEnd&) = delete;
  FrontEnd& operator=(const FrontEnd&) = delete;
  virtual ~FrontEnd() = default;

  // The engine's posters and the version check's seams; they live as long as this object.
  virtual UiPosterFactory& Posters() = 0;
  virtual UiThreadInvoker& Invoker() = 0;
  virtual WaitCursor& Cursor() = 0;

  // Constructs the main panel window object. Its window exists only while RunPanel runs.
  virtual CPanelDlg& CreatePanel() = 0;
  // Makes the panel the main window and runs it modally; returns once it has ended, with
  // the main window cleared again. Where the front end has the remote server, it runs
  // while the panel does, its keys handed over through enginePosters.
  virtual void RunPanel(UiPosterFactory& enginePosters) = 0;
  // Destroys the panel object.
  virtual void DestroyPanel() = 0;
  // Ends the panel as its Quit button does.
  virtual void ExitPanel() = 0;
  // Invalidates the whole panel with erasing, so that its background is looked at again.
  virtual void InvalidatePanel() = 0;
  // Runs the About box modally.
  virtual void RunAbout() = 0;
  // File, Remote control...: its window, modally, where the front end has the remote
  // server; nothing otherwise.
  virtual void RunRemoteControl() = 0;
  // Leaves every open dialog and box, innermost first, then the panel.
  virtual void EndModalLoops() = 0;
};

std::unique_ptr<FrontEnd> CreateFrontEnd();
