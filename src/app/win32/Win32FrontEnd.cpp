// The Win32 front end of start-up: message-only windows for the engine's posters and the
// version check, the hourglass, and the Win32 panel and About box.
#include <windows.h>

#include <optional>

#include "app/FrontEnd.h"
#include "app/win32/MessageWindow.h"
#include "app/win32/Win32UserSeams.h"
#include "desktop/MainWindow.h"
#include "ui/win32/AboutDlg.h"
#include "ui/win32/Dialog.h"
#include "ui/win32/PanelDlg.h"

namespace {

class Win32FrontEnd final : public FrontEnd {
 public:
  UiPosterFactory& Posters() override { return m_posters; }
  UiThreadInvoker& Invoker() override { return m_invoker; }
  WaitCursor& Cursor() override { return m_cursor; }

  CPanelDlg& CreatePanel() override { return m_panel.emplace(); }

  // The panel makes itself the main window once its window exists.
  // The Windows build has no remote server.
  void RunPanel(UiPosterFactory&) override {
    m_panel->DoModal();
    SetMainWindow(nullptr);
  }

  void DestroyPanel() override { m_panel.reset(); }

  void ExitPanel() override {
    if (m_panel && m_panel->GetSafeHwnd()) SendMessageW(m_panel->GetSafeHwnd(), WM_COMMAND, IDOK, 0);
  }

  void InvalidatePanel() override {
    if (m_panel && m_panel->GetSafeHwnd()) InvalidateRect(m_panel->GetSafeHwnd(), nullptr, TRUE);
  }

  void RunAbout() override {
    CAboutDlg dlgAbout;
    dlgAbout.DoModal();
  }

  void RunRemoteControl() override {}

  void EndModalLoops() override { EndModalDialogs(); }

 private:
  Win32UiPosterFactory m_posters;
  Win32UiThreadInvoker m_invoker;
  Win32WaitCursor m_cursor;
  std::optional<CPanelDlg> m_panel;
};

}  // namespace

std::unique_ptr<FrontEnd> CreateFrontEnd() { return std::make_unique<Win32FrontEnd>(); }
