#!/usr/bin/env bash
# The Windows installer in a fresh wine prefix: a silent install (/S) puts the programs
# and the default background in Program Files\Quillmark, a shortcut in the Start menu and
# an entry in the list of installed programs, and the installed quillmark-send.exe runs;
# the silent uninstall removes all of that and keeps the user's settings.
#   InstallerTest.sh WINE WINEPREFIX INSTALLER
set -euo pipefail

wine=$1
export WINEPREFIX=$2
installer=$3
bound=120  # seconds for each step of wine
# No desktop entries for the host's menus, no display.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" DISPLAY= WAYLAND_DISPLAY=
wineserver=$(dirname "$wine")/wineserver

cleanup() {
  local status=$?
  "$wineserver" -k 2>/dev/null || true
  exit "$status"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$WINEPREFIX"
timeout 300 "$wine" wineboot --init >/dev/null 2>&1 || fail "wineboot"

program_files=$WINEPREFIX/drive_c/Program\ Files/Quillmark
start_menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Quillmark
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmark'
settings_key='HKCU\Software\Vellicor\Quillmark\Settings'
query() { timeout "$bound" "$wine" reg.exe query "$@" 2>/dev/null | tr -d '\r'; }

echo "=== silent install"
timeout "$bound" "$wine" "$installer" /S || fail "the installer failed"
timeout "$bound" "$wineserver" -w || true
for file in quillmark.exe quillmark-send.exe DarkRivets.bmp Uninstall.exe; do
  [[ -f $program_files/$file ]] || fail "not installed: $file"
done
[[ -f $start_menu/Quillmark.lnk ]] || fail "no Start-menu shortcut"
query "$uninstall_key" /v DisplayName | grep -q 'REG_SZ *Quillmark$' || fail "no entry in the installed programs"
query "$uninstall_key" /v UninstallString | grep -q 'Uninstall.exe' || fail "the entry has no uninstaller"
version=$(timeout "$bound" "$wine" 'C:\Program Files\Quillmark\quillmark-send.exe' --version | tr -d '\r')
[[ $version == "quillmark-send 1.0.0.0" ]] || fail "the installed quillmark-send.exe says: $version"

echo "=== the user's settings, then a silent uninstall"
timeout "$bound" "$wine" reg.exe add "$settings_key" /v TargetDeviceID /t REG_DWORD /d 9 /f >/dev/null 2>&1 ||
  fail "reg add"
# The uninstaller copies itself out of the folder it removes and runs from there: the
# wineserver's end says that it has finished.
timeout "$bound" "$wine" 'C:\Program Files\Quillmark\Uninstall.exe' /S || fail "the uninstaller failed"
timeout "$bound" "$wineserver" -w || fail "the uninstaller did not finish"
[[ ! -e $program_files ]] || fail "left behind: $(ls -A "$program_files")"
[[ ! -e $start_menu ]] || fail "the Start-menu shortcut is still there"
! query "$uninstall_key" >/dev/null || fail "the installed programs still list Quillmark"
query "$settings_key" /v TargetDeviceID | grep -q '0x9$' || fail "the user's settings are gone"
echo "installed and uninstalled"
