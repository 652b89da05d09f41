// Every toolkit-free header of ours, then the Windows headers: none of our names may be
// taken over by their macros, and nothing of ours may break them.
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

#include <windows.h>
#include <mmsystem.h>
#include <commctrl.h>

// Would not compile if one of our headers had taken these names for something else.
static_assert(MMSYSERR_BADDEVICEID == 2 && MOM_DONE == 0x3C9 && MIDI_MAPPER == static_cast<UINT>(-1));
static_assert(IDOK == 1 && MB_ICONHAND == 0x10 && VK_RETURN == 0x0D);
