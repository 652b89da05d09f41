// quillmark-send's MIDI session: the engine and the transmit port on one chosen output,
// driven without an event loop. Each key is sent to its completion before the next.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "cli/OutputChoice.h"

class MidiServices;
struct KeyRow;

class KeySender {
 public:
  // Starts the engine on services; nothing is opened yet. While the sender lives it is
  // the process's settings reader, user seams and engine.
  KeySender(MidiServices& services, const ChosenOutput& output, std::uint8_t deviceId,
            std::chrono::milliseconds completionBound);
  KeySender(const KeySender&) = delete;
  KeySender& operator=(const KeySender&) = delete;
  // Releases the port (after what was sent has left) and ends the engine.
  ~KeySender();

  // Opens the output, so that the virtual port is there before the first key. False with
  // a line for the user when it cannot be opened.
  bool Open(std::string& error);
  // Sends one key and waits until the device has taken it. False with a line for the
  // user when the output failed or did not take it in time.
  bool Send(const KeyRow& row, std::string& error);

 private:
  struct Session;
  std::string FailureText();
  std::unique_ptr<Session> m_session;
  ChosenOutput m_output;
  std::chrono::milliseconds m_bound;
};
