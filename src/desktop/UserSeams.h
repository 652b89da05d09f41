// The few user-facing platform calls that the toolkit-free code needs: a message box,
// a beep and the shell's "open". The application installs its toolkit implementation at
// start-up; tests install a recorder. Without one, boxes answer QM_IDOK and nothing shows.
#pragma once

#include <string>

// Message box styles and answers, with the values the design uses.
inline constexpr unsigned QM_MB_OK = 0x0;
inline constexpr unsigned QM_MB_YESNO = 0x4;
inline constexpr unsigned QM_MB_ICONHAND = 0x10;
inline constexpr unsigned QM_MB_ICONERROR = 0x10;
inline constexpr unsigned QM_MB_ICONQUESTION = 0x20;
inline constexpr unsigned QM_MB_ICONWARNING = 0x30;
inline constexpr unsigned QM_MB_ICONEXCLAMATION = 0x30;
inline constexpr unsigned QM_MB_ICONINFORMATION = 0x40;
inline constexpr int QM_IDOK = 1;
inline constexpr int QM_IDCANCEL = 2;
inline constexpr int QM_IDYES = 6;
inline constexpr int QM_IDNO = 7;

// Opaque owner window: a QWidget* in the application, null for no owner.
using OwnerWindow = void*;

class UserSeams {
 public:
  UserSeams() = default;
  UserSeams(const UserSeams&) = delete;
  UserSeams& operator=(const UserSeams&) = delete;
  virtual ~UserSeams() = default;

  // Shows a modal box and returns the button pressed (QM_IDOK, QM_IDYES, QM_IDNO...). Must be
  // called on the user-interface thread.
  virtual int ShowMessageBox(OwnerWindow owner, const std::string& text, const std::string& caption,
                         unsigned style) = 0;
  virtual void MessageBeep(unsigned type) = 0;
  // Asks the desktop to open a URL or file; false when it could not.
  virtual bool ShellOpen(const std::string& target) = 0;
};

// The installed seams; a silent default when none was installed.
UserSeams& CurrentUserSeams();
// Installs seams (not owned; null restores the silent default) and returns the previous.
UserSeams* InstallUserSeams(UserSeams* seams);
