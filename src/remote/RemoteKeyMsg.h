// One remote-key SysEx message: it presses one front-panel key of the unit (or resets
// it) by loading the key's code into the unit's memory with three ASCII memory-load
// records and then naming a routine for the unit to run. The constructors build the
// message and hand it to the transmit port at once; the object is not reused.
#pragma once

#include <cstdint>

class CRemoteKeyMsg {
 public:
  static constexpr int kCapacity = 1024;
  static constexpr int kKeyMessageLength = 54;
  static constexpr int kResetMessageLength = 13;

  // The key message for the key code cHigh cLow (two upper-case hexadecimal digits).
  CRemoteKeyMsg(char cHigh, char cLow);
  // The reset message.
  CRemoteKeyMsg();
  CRemoteKeyMsg(const CRemoteKeyMsg&) = delete;
  CRemoteKeyMsg& operator=(const CRemoteKeyMsg&) = delete;
  virtual ~CRemoteKeyMsg() = default;

  int Length() const { return m_nLength; }
  const unsigned char* Data() const { return m_data; }
  // What the port answered: 1 when every byte was accepted; 0 when not, or when there is
  // no port.
  int SendResult() const { return m_nSendResult; }

 private:
  void AppendHeader();
  void AppendKeyRecords(char cHigh, char cLow);
  void AppendChecksum(int nDigits);
  void AppendKeyExecute();
  void AppendResetExecute();
  void EndAndSend();
  void AppendText(const char* text);

  int m_nLength;
  unsigned char m_data[kCapacity];
  int m_nSendResult;
};

// 0 to 15 for "0"-"9" and "A"-"F"; every other character gives 0.
unsigned HexDigitValue(char c);
// HexDigitValue(cHigh) * 16 + HexDigitValue(cLow).
std::uint8_t HexPairValue(char cHigh, char cLow);
