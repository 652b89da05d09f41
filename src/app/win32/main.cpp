// The Windows program: the Win32 front end around the shared start-up. No command line is
// read.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "app/RemoteApp.h"
#include "app/TerminationRequests.h"
#include "app/win32/Win32UserSeams.h"

namespace {

// The shell's "open" and the file dialog want the thread in a single-threaded apartment.
class ComApartment {
 public:
  ComApartment() : m_initialised(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (m_initialised) CoUninitialize();
  }

 private:
  bool m_initialised;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CatchTerminationRequests();
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS;
  InitCommonControlsEx(&controls);
  const ComApartment apartment;
  Win32UserSeams seams;
  InstallUserSeams(&seams);
  {
    const std::unique_ptr<TerminationService> terminate = ServeTerminationRequests([] { theApp.OnTerminate(); });
    theApp.InitInstance();
  }
  InstallUserSeams(nullptr);
  return 0;
}
