// The remote server inside the panel program: keys from the page and from OSC are handed
// to the user-interface thread and pressed there through the panel's own key routine, as
// a click on the key's button. A device error of a remote key goes back to whoever
// pressed it and shows no box on this screen, where nobody may be there to close it.
// While another window of the program is open on this screen (Preferences, About, a
// message box), remote keys are refused: Preferences releases the port and a key sent
// then would open it again on the output it is about to leave.
#pragma once

#include "server/KeyDispatcher.h"
#include "server/RemoteServer.h"
#include "ui/RemoteControlHost.h"

class CPanelDlg;
class UiPosterFactory;

class PanelRemote final : public RemoteControlHost, public KeyRoutine {
 public:
  // Both must outlive this object.
  PanelRemote(UiPosterFactory& posters, CPanelDlg& panel);
  // Answers the keys still waiting, then stops the servers.
  ~PanelRemote() override;

  // Starts what the stored settings switch on (nothing by default); a server that cannot
  // start is reported in a box.
  void StartStored();

  bool ApplyRemoteSettings(const RemoteSettings& settings, std::string& error) override;
  std::vector<std::string> RemotePageAddresses() const override;
  bool RemoteOscRunning() const override;
  KeyOutcome PressKey(const KeyRow& row) override;

 private:
  CPanelDlg& m_panel;
  KeyDispatcher m_dispatcher;
  RemoteServer m_server;
};
