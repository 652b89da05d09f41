// The Remote control window (template 104): the page for phones and tablets on or off and
// its port, OSC on or off with its port and allowed hosts, the address to open with its
// access token and the same as a QR code, and a button for a new token. OK stores the
// values in the profile and restarts the remote server; a value that is not valid, or a
// server that cannot start, keeps the window open with the reason.
#pragma once

#include <QDialog>
#include <vector>

#include "server/RemoteSettings.h"

class RemoteControlHost;

class CRemoteDlg final : public QDialog {
 public:
  CRemoteDlg(RemoteControlHost& host, QWidget* parent);

  int DoModal();
  QWidget* Control(int id) const;
  // The window's values into `settings`; false after telling the user what is wrong,
  // with the focus on that control.
  bool SaveControls(RemoteSettings& settings);
  void OnOK();
  void OnNewToken();

 private:
  void LoadControls();
  // The address, the QR code and the status line, from the server as it runs now.
  void ShowState(const std::string& problem);

  RemoteControlHost& m_host;
  RemoteSettings m_settings;
  std::vector<QWidget*> m_controls;
};
