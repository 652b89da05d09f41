// What the Remote control window asks of the program that runs the remote server: to
// restart it with new settings and to say where the page is. Toolkit-free, so both front
// ends build their window on it.
#pragma once

#include <string>
#include <vector>

#include "server/RemoteSettings.h"

class RemoteControlHost {
 public:
  RemoteControlHost() = default;
  RemoteControlHost(const RemoteControlHost&) = delete;
  RemoteControlHost& operator=(const RemoteControlHost&) = delete;
  virtual ~RemoteControlHost() = default;
  // Stops what runs and starts what `settings` switch on. False with the reasons for the
  // user when something could not start.
  virtual bool ApplyRemoteSettings(const RemoteSettings& settings, std::string& error) = 0;
  // The running page's addresses with the token, the network's first; empty when off.
  virtual std::vector<std::string> RemotePageAddresses() const = 0;
  virtual bool RemoteOscRunning() const = 0;
};
