#include "remote/RemoteKeyMsg.h"

#include "midi/MidiXmit.h"
#include "midi/SettingsAccess.h"

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}

unsigned HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 0;
}

std::uint8_t HexPairValue(char cHigh, char cLow) {
  return static_cast<std::uint8_t>(HexDigitValue(cHigh) * 16 + HexDigitValue(cLow));
}

CRemoteKeyMsg::CRemoteKeyMsg(char cHigh, char cLow) : m_nLength(0), m_data{}, m_nSendResult(0) {
  AppendHeader();
  AppendKeyRecords(cHigh, cLow);
  AppendKeyExecute();
  EndAndSend();
}

CRemoteKeyMsg::CRemoteKeyMsg() : m_nLength(0), m_data{}, m_nSendResult(0) {
  AppendHeader();
  AppendResetExecute();
  EndAndSend();
}

void CRemoteKeyMsg::AppendText(const char* text) {
  while (*text) m_data[m_nLength++] = static_cast<unsigned char>(*text++);
}

void CRemoteKeyMsg::AppendHeader() {
  m_nLength = 0;
  m_data[m_nLength++] = 0xF0;
  m_data[m_nLength++] = 0x1C;
  m_data[m_nLength++] = 0x60;
  // Read now, so a change made in Preferences applies to the next key. Only a hand edit
  // of the stored settings can give an ID above 127; unmasked it would put a status byte
  // inside the SysEx and break the frame.
  m_data[m_nLength++] = CurrentTargetDeviceId() & 0x7F;
  m_data[m_nLength++] = 0x00;
}

void CRemoteKeyMsg::AppendKeyRecords(char cHigh, char cLow) {
  AppendText(":017C0000");
  m_data[m_nLength++] = static_cast<unsigned char>(cHigh);
  m_data[m_nLength++] = static_cast<unsigned char>(cLow);
  AppendChecksum(10);
  AppendText(":017C010000");
  AppendChecksum(10);
  AppendText(":0268AE007C00");
  AppendChecksum(12);
}

void CRemoteKeyMsg::AppendChecksum(int nDigits) {
  unsigned sum = 0;
  for (int i = m_nLength - nDigits; i < m_nLength; i += 2) {
    sum += HexPairValue(static_cast<char>(m_data[i]), static_cast<char>(m_data[i + 1]));
  }
  sum &= 0xFF;
  const unsigned checksum = sum == 0 ? 0 : 256 - sum;
  m_data[m_nLength++] = static_cast<unsigned char>(kHexDigits[checksum >> 4]);
  m_data[m_nLength++] = static_cast<unsigned char>(kHexDigits[checksum & 0xF]);
}

void CRemoteKeyMsg::AppendKeyExecute() { AppendText("|FEA45E"); }

void CRemoteKeyMsg::AppendResetExecute() { AppendText("|FEB64C"); }

void CRemoteKeyMsg::EndAndSend() {
  m_data[m_nLength++] = 0xF7;
  m_nSendResult = g_pMidiXmit ? g_pMidiXmit->Send(m_nLength, m_data) : 0;
}
