// The multimedia system's MIDI functions that the WinMM backend calls, as one table, so
// that tests can run the backend over a scripted system. Windows builds only.
#pragma once

#include <windows.h>
#include <mmsystem.h>

struct WinMmApi {
  UINT(WINAPI* outGetNumDevs)();
  MMRESULT(WINAPI* outGetDevCaps)(UINT_PTR, LPMIDIOUTCAPSW, UINT);
  UINT(WINAPI* inGetNumDevs)();
  MMRESULT(WINAPI* inGetDevCaps)(UINT_PTR, LPMIDIINCAPSW, UINT);
  MMRESULT(WINAPI* outOpen)(LPHMIDIOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD);
  MMRESULT(WINAPI* outPrepareHeader)(HMIDIOUT, LPMIDIHDR, UINT);
  MMRESULT(WINAPI* outUnprepareHeader)(HMIDIOUT, LPMIDIHDR, UINT);
  MMRESULT(WINAPI* outShortMsg)(HMIDIOUT, DWORD);
  MMRESULT(WINAPI* outLongMsg)(HMIDIOUT, LPMIDIHDR, UINT);
  MMRESULT(WINAPI* outReset)(HMIDIOUT);
  MMRESULT(WINAPI* outClose)(HMIDIOUT);
  MMRESULT(WINAPI* outGetErrorText)(MMRESULT, LPWSTR, UINT);
};

// The system's own functions.
const WinMmApi& SystemWinMmApi();
