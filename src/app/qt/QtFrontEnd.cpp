// The Qt front end of start-up: Qt's event loop posts for the engine and the version
// check, the override wait cursor, the Qt panel and About box, and the remote server in
// the panel where the build has one.
#include <QApplication>
#include <QDialog>
#include <memory>
#include <optional>

#include "app/FrontEnd.h"
#include "app/qt/QtUiPoster.h"
#include "app/qt/UpdateCheckSeams.h"
#include "desktop/MainWindow.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/PanelDlg.h"
#ifdef QUILLMARK_REMOTE_SERVER
#include "app/qt/PanelRemote.h"
#include "ui/qt/RemoteDlg.h"
#else
class PanelRemote {};
#endif

namespace {

class QtFrontEnd final : public FrontEnd {
 public:
  UiPosterFactory& Posters() override { return m_posters; }
  UiThreadInvoker& Invoker() override { return m_invoker; }
  WaitCursor& Cursor() override { return m_cursor; }

  CPanelDlg& CreatePanel() override { return m_panel.emplace(); }

  void RunPanel([[maybe_unused]] UiPosterFactory& enginePosters) override {
    SetMainWindow(&*m_panel);
#ifdef QUILLMARK_REMOTE_SERVER
    // Off unless the user switched it on: with the default settings nothing listens.
    m_remote = std::make_unique<PanelRemote>(enginePosters, *m_panel);
    m_remote->StartStored();
#endif
    m_panel->DoModal();
    // Keys still waiting are answered, and the servers' threads end, while the port and
    // the panel still exist.
    m_remote.reset();
    SetMainWindow(nullptr);
  }

  void DestroyPanel() override { m_panel.reset(); }

  void ExitPanel() override {
    if (m_panel) m_panel->OnCommand(1, 0);
  }

  void InvalidatePanel() override {
    if (m_panel) m_panel->Client()->update();
  }

  void RunAbout() override {
    CAboutDlg dlgAbout;
    dlgAbout.DoModal();
  }

  void RunRemoteControl() override {
#ifdef QUILLMARK_REMOTE_SERVER
    if (!m_remote) return;
    CRemoteDlg dialog(*m_remote, &*m_panel);
    dialog.DoModal();
#endif
  }

  void EndModalLoops() override {
    // Each reject ends one modal loop once control returns to it; a bound keeps a dialog
    // that refuses to close from holding us here.
    for (int i = 0; i < 16; ++i) {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) break;
      if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
      } else {
        modal->close();
      }
    }
    if (m_panel) m_panel->reject();
  }

 private:
  QtUiPosterFactory m_posters;
  QtUiThreadInvoker m_invoker;
  QtWaitCursor m_cursor;
  std::optional<CPanelDlg> m_panel;
  // The remote server while the panel runs (where the build has one), else null.
  std::unique_ptr<PanelRemote> m_remote;
};

}  // namespace

std::unique_ptr<FrontEnd> CreateFrontEnd() { return std::make_unique<QtFrontEnd>(); }
