#include "app/qt/PanelRemote.h"

#include <QApplication>

#include "desktop/UserSeams.h"
#include "remote/KeyTable.h"
#include "settings/ProfileStore.h"
#include "ui/CommandRouting.h"
#include "ui/qt/PanelDlg.h"

PanelRemote::PanelRemote(UiPosterFactory& posters, CPanelDlg& panel)
    : m_panel(panel), m_dispatcher(posters, *this), m_server(m_dispatcher) {}

PanelRemote::~PanelRemote() {
  m_dispatcher.Close();
  m_server.Stop();
}

void PanelRemote::StartStored() {
  RemoteSettings settings = ReadRemoteSettings(CurrentProfileStore());
  if (!settings.pageEnabled && !settings.oscEnabled) return;
  if (settings.pageEnabled) EnsureAccessToken(CurrentProfileStore(), settings);
  std::string error;
  if (!ApplyRemoteSettings(settings, error)) {
    CurrentUserSeams().ShowMessageBox(nullptr, error, "Quillmark", QM_MB_OK | QM_MB_ICONEXCLAMATION);
  }
}

bool PanelRemote::ApplyRemoteSettings(const RemoteSettings& settings, std::string& error) {
  return m_server.Start(settings, error);
}

std::vector<std::string> PanelRemote::RemotePageAddresses() const { return m_server.PageAddresses(); }

bool PanelRemote::RemoteOscRunning() const { return m_server.OscRunning(); }

KeyOutcome PanelRemote::PressKey(const KeyRow& row) {
  const QWidget* modal = QApplication::activeModalWidget();
  if (modal && modal != &m_panel) {
    return {KeyStatus::Busy, "Quillmark has a window open on its screen; close it to use the remote."};
  }
  return PressWithErrorsCaught(
      [](const KeyRow& key, void* context) {
        auto* panel = static_cast<CPanelDlg*>(context);
        // Exactly what a click on the key's button does.
        panel->OnCommand(key.controlId | (QM_BN_CLICKED << 16), 0);
        return panel->LastSendResult();
      },
      row, &m_panel);
}
