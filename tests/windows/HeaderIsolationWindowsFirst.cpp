// The Windows headers, then every toolkit-free header of ours. Where one of our names
// stands for a Windows value, it must be that value: the MIDI backend hands the system's
// result codes, messages and flags through unchanged.
#include <windows.h>
#include <mmsystem.h>
#include <commctrl.h>

#include "app/FrontEnd.h"
#include "app/RemoteApp.h"
#include "app/TerminationRequests.h"
#include "app/UpdateCheckInputs.h"
#include "cli/SendCommand.h"
#include "desktop/MainWindow.h"
#include "desktop/ManualUiQueue.h"
#include "desktop/UiPoster.h"
#include "desktop/UserSeams.h"
#include "desktop/WideText_win.h"
#include "midi/MidiServices.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "midi/SettingsAccess.h"
#include "midi/backends/CompositeMidiServices.h"
#include "midi/backends/MidiBackends.h"
#include "midi/backends/SpscRing.h"
#include "midi/backends/winmm/WinMmMidiServices.h"
#include "remote/KeyTable.h"
#include "remote/RemoteKeyMsg.h"
#include "settings/PrefsDlg.h"
#include "settings/ProfileStore.h"
#include "settings/RecentFileList.h"
#include "settings/VersionRecord.h"
#include "update/CheckState.h"
#include "update/NetConnection.h"
#include "update/UpdateSeams.h"
#include "update/VersionCheck.h"
#include "update/VersionLine.h"
#include "ui/CommandRouting.h"
#include "ui/DialogTables.h"
#include "ui/DialogTemplate.h"
#include "ui/PrefsRules.h"

static_assert(QM_MMSYSERR_NOERROR == MMSYSERR_NOERROR);
static_assert(QM_MMSYSERR_ERROR == MMSYSERR_ERROR);
static_assert(QM_MMSYSERR_BADDEVICEID == MMSYSERR_BADDEVICEID);
static_assert(QM_MMSYSERR_NOTENABLED == MMSYSERR_NOTENABLED);
static_assert(QM_MMSYSERR_ALLOCATED == MMSYSERR_ALLOCATED);
static_assert(QM_MMSYSERR_INVALHANDLE == MMSYSERR_INVALHANDLE);
static_assert(QM_MMSYSERR_NODRIVER == MMSYSERR_NODRIVER);
static_assert(QM_MMSYSERR_NOMEM == MMSYSERR_NOMEM);
static_assert(QM_MMSYSERR_NOTSUPPORTED == MMSYSERR_NOTSUPPORTED);
static_assert(QM_MMSYSERR_BADERRNUM == MMSYSERR_BADERRNUM);
static_assert(QM_MMSYSERR_INVALFLAG == MMSYSERR_INVALFLAG);
static_assert(QM_MMSYSERR_INVALPARAM == MMSYSERR_INVALPARAM);
static_assert(QM_MIDIERR_UNPREPARED == MIDIERR_UNPREPARED);
static_assert(QM_MIDIERR_STILLPLAYING == MIDIERR_STILLPLAYING);
static_assert(QM_MIDIERR_NOMAP == MIDIERR_NOMAP);
static_assert(QM_MIDIERR_NOTREADY == MIDIERR_NOTREADY);
static_assert(QM_MIDIERR_NODEVICE == MIDIERR_NODEVICE);
static_assert(QM_MIDIERR_INVALIDSETUP == MIDIERR_INVALIDSETUP);
static_assert(QM_MIDIERR_BADOPENMODE == MIDIERR_BADOPENMODE);
static_assert(QM_MIDIERR_DONT_CONTINUE == MIDIERR_DONT_CONTINUE);
static_assert(QM_MIDI_MAPPER == MIDI_MAPPER);
static_assert(QM_MOM_OPEN == MOM_OPEN && QM_MOM_CLOSE == MOM_CLOSE && QM_MOM_DONE == MOM_DONE);
static_assert(QM_MHDR_DONE == MHDR_DONE && QM_MHDR_PREPARED == MHDR_PREPARED &&
              QM_MHDR_INQUEUE == MHDR_INQUEUE);
static_assert(QM_MB_OK == MB_OK && QM_MB_YESNO == MB_YESNO && QM_MB_ICONHAND == MB_ICONHAND &&
              QM_MB_ICONERROR == MB_ICONERROR && QM_MB_ICONQUESTION == MB_ICONQUESTION &&
              QM_MB_ICONWARNING == MB_ICONWARNING &&
              QM_MB_ICONEXCLAMATION == MB_ICONEXCLAMATION &&
              QM_MB_ICONINFORMATION == MB_ICONINFORMATION);
static_assert(QM_IDOK == IDOK && QM_IDCANCEL == IDCANCEL && QM_IDYES == IDYES && QM_IDNO == IDNO);
static_assert(QM_VK_RETURN == VK_RETURN && QM_VK_UP == VK_UP && QM_VK_DOWN == VK_DOWN &&
              QM_VK_NUMPAD0 == VK_NUMPAD0 && QM_VK_SUBTRACT == VK_SUBTRACT &&
              QM_VK_DECIMAL == VK_DECIMAL && QM_VK_F1 == VK_F1);
// The shared dialog templates carry the dialog manager's own style bits.
static_assert(dlgstyle::QM_WS_POPUP == WS_POPUP && dlgstyle::QM_WS_CHILD == WS_CHILD &&
              dlgstyle::QM_WS_MINIMIZEBOX == WS_MINIMIZEBOX && dlgstyle::QM_WS_CAPTION == WS_CAPTION &&
              dlgstyle::QM_WS_SYSMENU == WS_SYSMENU && dlgstyle::QM_WS_EX_APPWINDOW == WS_EX_APPWINDOW &&
              dlgstyle::QM_DS_SETFONT == DS_SETFONT && dlgstyle::QM_DS_MODALFRAME == DS_MODALFRAME);
static_assert(dlgstyle::QM_WS_GROUP == WS_GROUP && dlgstyle::QM_WS_TABSTOP == WS_TABSTOP &&
              dlgstyle::QM_WS_DISABLED == WS_DISABLED && dlgstyle::QM_WS_VISIBLE == WS_VISIBLE &&
              dlgstyle::QM_WS_VSCROLL == WS_VSCROLL && dlgstyle::QM_WS_BORDER == WS_BORDER);
static_assert(dlgstyle::QM_BS_DEFPUSHBUTTON == BS_DEFPUSHBUTTON && dlgstyle::QM_BS_AUTOCHECKBOX == BS_AUTOCHECKBOX &&
              dlgstyle::QM_SS_LEFT == SS_LEFT && dlgstyle::QM_SS_CENTER == SS_CENTER &&
              dlgstyle::QM_ES_CENTER == ES_CENTER && dlgstyle::QM_ES_AUTOHSCROLL == ES_AUTOHSCROLL &&
              dlgstyle::QM_ES_READONLY == ES_READONLY && dlgstyle::QM_ES_NUMBER == ES_NUMBER);
static_assert(dlgstyle::QM_CBS_DROPDOWN == CBS_DROPDOWN && dlgstyle::QM_CBS_DROPDOWNLIST == CBS_DROPDOWNLIST &&
              dlgstyle::QM_CBS_AUTOHSCROLL == CBS_AUTOHSCROLL && dlgstyle::QM_UDS_SETBUDDYINT == UDS_SETBUDDYINT &&
              dlgstyle::QM_UDS_ALIGNRIGHT == UDS_ALIGNRIGHT && dlgstyle::QM_UDS_AUTOBUDDY == UDS_AUTOBUDDY &&
              dlgstyle::QM_UDS_ARROWKEYS == UDS_ARROWKEYS);
