// The Win32 front end in this process, under wine on a display: the dialogs as the
// dialog manager builds them from the shared templates, keys through the modal loop's
// pre-translation, start-up's first run, Preferences, the About box's link and the tiled
// background. Expected values come from the design's tables (DesignKeys.h and the rows
// typed in below), never from the templates under test.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "DesignKeys.h"
#include "FakeMidiServices.h"
#include "ModalScript.h"
#include "RecordingSeams.h"
#include "app/RemoteApp.h"
#include "desktop/ManualUiQueue.h"
#include "desktop/WideText_win.h"
#include "midi/OutputStream.h"
#include "settings/BuildConfig.h"
#include "settings/PrefsDlg.h"
#include "settings/ProfileStore.h"
#include "settings/RecentFileList.h"
#include "ui/win32/AboutDlg.h"
#include "ui/win32/PanelDlg.h"
#include "ui/win32/PrefsWindow.h"
#include "ui/win32/StaticLink.h"

namespace {

std::string Text(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return WideToUtf8(text);
}

std::string ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return WideToUtf8(name);
}

// A rectangle of the design in dialog units in pixels, position and size converted apart
// as the dialog manager does, and where a control is in the client area.
RECT DialogUnits(HWND dialog, int x, int y, int width, int height) {
  RECT rect = {x, y, width, height};
  MapDialogRect(dialog, &rect);
  return {rect.left, rect.top, rect.left + rect.right, rect.top + rect.bottom};
}

RECT InClient(HWND dialog, HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// A 10 x 10 24-bit bitmap: its top-left pixel red, the rest green.
void WriteTile(const std::filesystem::path& path) {
  constexpr int kSide = 10;
  constexpr int kRow = (kSide * 3 + 3) & ~3;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = kSide;
  info.biHeight = kSide;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biSizeImage = kRow * kSide;
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + info.biSizeImage;
  std::vector<unsigned char> pixels(info.biSizeImage);
  for (int row = 0; row < kSide; ++row) {
    for (int x = 0; x < kSide; ++x) {
      unsigned char* bgr = &pixels[static_cast<std::size_t>(row * kRow + x * 3)];
      const bool topLeft = row == kSide - 1 && x == 0;  // rows are stored bottom-up
      bgr[1] = topLeft ? 0 : 255;
      bgr[2] = topLeft ? 255 : 0;
    }
  }
  FILE* out = _wfopen(path.c_str(), L"wb");
  ASSERT_NE(out, nullptr);
  std::fwrite(&file, sizeof file, 1, out);
  std::fwrite(&info, sizeof info, 1, out);
  std::fwrite(pixels.data(), 1, pixels.size(), out);
  std::fclose(out);
}

class Win32UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_previousStore = InstallProfileStore(&m_store);
    m_store.DeleteSection(kSettingsSection);
    m_store.DeleteSection(kRecentBackgroundsSection);
    m_folder = std::filesystem::temp_directory_path() / L"quillmark-win32-ui-test";
    std::filesystem::create_directories(m_folder);
  }
  void TearDown() override {
    theApp.UseMidiServices(nullptr, nullptr);
    m_store.DeleteSection(kSettingsSection);
    m_store.DeleteSection(kRecentBackgroundsSection);
    InstallProfileStore(m_previousStore);
    std::error_code error;
    std::filesystem::remove_all(m_folder, error);
  }

  // A stored channel: not a first run.
  void StoreSettings(std::uint8_t deviceId) {
    ASSERT_TRUE(m_store.StoreProfileInt(kSettingsSection, "MIDI Channel", 1));
    ASSERT_TRUE(m_store.StoreProfileInt(kSettingsSection, "TargetDeviceID", deviceId));
    ASSERT_TRUE(m_store.StoreProfileString(kSettingsSection, "Background", ""));
  }

  // Runs the whole program on the fake device with the steps.
  void RunProgram(std::vector<ModalScript::Step> steps) {
    theApp.UseMidiServices(&m_fake, nullptr);
    ModalScript script(std::move(steps));
    EXPECT_FALSE(theApp.InitInstance());
    EXPECT_TRUE(script.Finished()) << "the program ended before the script";
    EXPECT_FALSE(script.RanOut()) << "stuck at step " << script.StepReached();
  }

  static HWND Panel() { return theApp.m_pMainWnd ? theApp.m_pMainWnd->GetSafeHwnd() : nullptr; }

  ProfileStore m_store{"Vellicor", "Quillmark Win32 UI Test"};
  ProfileStore* m_previousStore = nullptr;
  FakeMidiServices m_fake;
  RecordingSeams m_seams;
  std::filesystem::path m_folder;
};

TEST_F(Win32UiTest, PanelIsTemplate102WithTheDesignsKeysMenuAndSize) {
  StoreSettings(0);
  RunProgram({[&] {
    HWND panel = Panel();
    if (!panel) return false;
    EXPECT_EQ(Text(panel), "Quillmark");
    EXPECT_NE(SendMessageW(panel, WM_GETICON, ICON_BIG, 0), 0) << "icon 128";
    for (const DesignKey& key : kDesignKeys) {
      SCOPED_TRACE(std::string(key.key));
      HWND button = GetDlgItem(panel, static_cast<int>(key.controlId));
      EXPECT_NE(button, nullptr);
      EXPECT_EQ(ClassOf(button), "Button");
      EXPECT_EQ(Text(button), key.caption);
      EXPECT_TRUE(IsWindowVisible(button));
    }
    HWND quit = GetDlgItem(panel, IDOK);
    EXPECT_EQ(Text(quit), "&Quit");
    EXPECT_EQ(GetWindowLongPtrW(quit, GWL_STYLE) & 0xF, BS_DEFPUSHBUTTON);
    HWND spin = GetDlgItem(panel, 75);
    EXPECT_EQ(ClassOf(spin), "msctls_updown32");
    EXPECT_FALSE(IsWindowVisible(spin));

    // Rows of the design's template, in dialog units.
    struct Place {
      int id, x, y, width, height;
    };
    for (const Place& place : {Place{80, 5, 5, 20, 13}, Place{69, 117, 56, 13, 13}, Place{115, 115, 80, 19, 13},
                               Place{1, 147, 80, 20, 13}, Place{75, 40, 14, 9, 42}}) {
      const RECT expected = DialogUnits(panel, place.x, place.y, place.width, place.height);
      const RECT actual = InClient(panel, GetDlgItem(panel, place.id));
      EXPECT_EQ(actual.left, expected.left) << place.id;
      EXPECT_EQ(actual.top, expected.top) << place.id;
      EXPECT_EQ(actual.right, expected.right) << place.id;
      EXPECT_EQ(actual.bottom, expected.bottom) << place.id;
    }
    RECT client{};
    GetClientRect(panel, &client);
    const RECT size = DialogUnits(panel, 0, 0, 172, 98);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    // Tab order: the keys in the template's order, then Quit; the up-down has no tab stop.
    HWND at = GetNextDlgTabItem(panel, nullptr, FALSE);
    for (const DesignKey& key : kDesignKeys) {
      EXPECT_EQ(GetDlgCtrlID(at), static_cast<int>(key.controlId));
      at = GetNextDlgTabItem(panel, at, FALSE);
    }
    EXPECT_EQ(GetDlgCtrlID(at), IDOK);

    struct Item {
      int menu;
      unsigned id;
      const char* text;
    };
    HMENU bar = GetMenu(panel);
    EXPECT_EQ(GetMenuItemCount(bar), 2);
    wchar_t title[64] = {};
    GetMenuStringW(bar, 0, title, 64, MF_BYPOSITION);
    EXPECT_EQ(WideToUtf8(title), "&File");
    GetMenuStringW(bar, 1, title, 64, MF_BYPOSITION);
    EXPECT_EQ(WideToUtf8(title), "&Help");
    for (const Item& item : {Item{0, 32771, "&Preferences..."}, Item{0, 32772, "E&xit"}, Item{1, 32773, "&Website"},
                             Item{1, 32774, "&Check for updates"}, Item{1, 32775, "About Quillmark..."}}) {
      wchar_t text[64] = {};
      GetMenuStringW(GetSubMenu(bar, item.menu), item.id, text, 64, MF_BYCOMMAND);
      EXPECT_EQ(WideToUtf8(text), item.text);
    }
    PostMessageW(panel, WM_COMMAND, IDOK, 0);
    return true;
  }});
}

TEST_F(Win32UiTest, TypedAndClickedKeysSendTheDesignsMessagesForTheStoredDeviceId) {
  StoreSettings(7);
  std::vector<std::vector<std::uint8_t>> expected;
  for (const DesignKey& key : kDesignKeys) expected.push_back(DesignMessage(key, 7));
  expected.push_back(DesignMessage(DesignKeyNamed("ent"), 7));  // E
  for (const DesignKey& key : kDesignKeys) expected.push_back(DesignMessage(key, 7));
  // One key at a time, each once the one before has gone out, as a user presses them:
  // the engine holds at most four messages on their way.
  std::size_t pressed = 0;
  const auto press = [&](const std::function<void(std::size_t)>& one, std::size_t count) {
    return [&, one, count] {
      if (m_fake.LongMessages().size() < pressed) return false;
      if (pressed == count) return true;
      one(pressed++);
      return false;
    };
  };
  RunProgram({
      [&] { return Panel() && GetFocus(); },
      press(
          [&](std::size_t i) {
            const unsigned key = i < kDesignKeys.size() ? kDesignKeys[i].keyValue : 'E';
            PostMessageW(GetFocus(), WM_KEYDOWN, key, 1);
          },
          kDesignKeys.size() + 1),
      [&] {
        EXPECT_EQ(GetFocus(), GetDlgItem(Panel(), 69)) << "a keyboard key moves the focus to its button";
        return true;
      },
      press(
          [&](std::size_t i) {
            const DesignKey& key = kDesignKeys[i - kDesignKeys.size() - 1];
            SendMessageW(GetDlgItem(Panel(), static_cast<int>(key.controlId)), BM_CLICK, 0, 0);
          },
          expected.size()),
      [&] {
        EXPECT_EQ(m_fake.LongMessages(), expected);
        // Keys outside the table go to the dialog manager: Tab moves on, Escape ends.
        SetFocus(GetDlgItem(Panel(), 80));
        PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 1);
        return true;
      },
      [&] {
        if (GetFocus() == GetDlgItem(Panel(), 80)) return false;
        EXPECT_EQ(GetFocus(), GetDlgItem(Panel(), 70));
        EXPECT_EQ(m_fake.LongMessages().size(), expected.size()) << "Tab sends nothing";
        PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1);
        return true;
      },
  });
  EXPECT_EQ(m_fake.OpenDevices(), 0) << "the tear-down released the device";
}

TEST_F(Win32UiTest, FirstRunShowsPreferencesAloneThenThePanel) {
  RunProgram({
      [&] {
        CDialog* dialog = InnermostDialog();
        if (!dialog || !dialog->GetSafeHwnd()) return false;
        EXPECT_EQ(Text(dialog->GetSafeHwnd()), "Preferences");
        EXPECT_EQ(GetWindow(dialog->GetSafeHwnd(), GW_OWNER), nullptr);
        EXPECT_EQ(Panel(), nullptr) << "no panel before the first-run Preferences";
        EXPECT_EQ(GetFocus(), dialog->GetDlgItem(1005)) << "the first enabled tab stop, the device ID";
        PostMessageW(dialog->GetSafeHwnd(), WM_COMMAND, IDCANCEL, 0);
        return true;
      },
      [&] {
        if (!Panel()) return false;
        PostMessageW(Panel(), WM_COMMAND, ID_FILE_EXIT, 0);
        return true;
      },
  });
  EXPECT_EQ(m_store.ReadProfileInt(kSettingsSection, "MIDI Channel", 255), 1) << "saved at the end of the run";
}

TEST_F(Win32UiTest, PreferencesStoresWhatWasTypedAndChosen) {
  StoreSettings(0);
  const std::filesystem::path tile = m_folder / L"Tile.bmp";
  WriteTile(tile);
  const std::string chosen = WideToUtf8(tile.wstring());
  std::vector<FileOpenRequest> requests;
  const FileOpenDialogFunction previous = InstallFileOpenDialog([&](const FileOpenRequest& request) {
    requests.push_back(request);
    return std::optional<std::string>(chosen);
  });
  const auto type = [](HWND field, const char* text) {
    SendMessageW(field, EM_SETSEL, 0, -1);
    for (const char* c = text; *c; ++c) PostMessageW(field, WM_CHAR, static_cast<WPARAM>(*c), 1);
  };
  RunProgram({
      [&] {
        if (!Panel()) return false;
        PostMessageW(Panel(), WM_COMMAND, ID_FILE_PREFERENCES, 0);
        return true;
      },
      [&] {
        CDialog* prefs = InnermostDialog();
        if (!prefs || Text(prefs->GetSafeHwnd()) != "Preferences") return false;
        type(prefs->GetDlgItem(1005), "150");
        return true;
      },
      [&] {
        HWND field = InnermostDialog()->GetDlgItem(1005);
        if (Text(field) != "99") return false;  // clamped as it was typed
        SendMessageW(field, EM_SETSEL, 0, -1);
        SendMessageW(field, WM_CLEAR, 0, 0);
        PostMessageW(InnermostDialog()->GetSafeHwnd(), WM_COMMAND, IDOK, 0);
        return true;
      },
      [&] {
        if (m_seams.Boxes().empty()) return false;
        EXPECT_EQ(m_seams.Boxes().front().text, "Please enter an integer between 0 and 255.");
        EXPECT_EQ(m_seams.Boxes().front().caption, "Quillmark");
        EXPECT_EQ(m_seams.Boxes().front().style, static_cast<unsigned>(MB_ICONEXCLAMATION | MB_OK));
        CDialog* prefs = InnermostDialog();
        EXPECT_EQ(GetFocus(), prefs->GetDlgItem(1005));
        type(prefs->GetDlgItem(1005), "42");
        SendMessageW(prefs->GetDlgItem(1004), CB_SETCURSEL, 1, 0);
        SendMessageW(prefs->GetDlgItem(1007), BM_CLICK, 0, 0);
        PostMessageW(prefs->GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(1019, BN_CLICKED),
                     reinterpret_cast<LPARAM>(prefs->GetDlgItem(1019)));
        return true;
      },
      [&] {
        CDialog* prefs = InnermostDialog();
        if (requests.empty() || Text(prefs->GetDlgItem(1005)) != "42") return false;
        EXPECT_EQ(Text(prefs->GetDlgItem(1017)), chosen);
        PostMessageW(prefs->GetSafeHwnd(), WM_COMMAND, IDOK, 0);
        return true;
      },
      [&] {
        if (InnermostDialog() != theApp.m_pMainWnd) return false;
        PostMessageW(Panel(), WM_COMMAND, IDOK, 0);
        return true;
      },
  });
  InstallFileOpenDialog(previous);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].title, "Select Bitmap");
  EXPECT_EQ(requests[0].filterName, "Bitmap Files (*.bmp)");
  EXPECT_EQ(requests[0].filterPattern, "*.bmp");
  EXPECT_EQ(requests[0].defaultExtension, "bmp");
  EXPECT_EQ(requests[0].flags, 0x1804u);
  EXPECT_EQ(m_store.ReadProfileInt(kSettingsSection, "TargetDeviceID", -1), 42);
  EXPECT_EQ(m_store.ReadProfileInt(kSettingsSection, "MIDI Output Device", -1), 1);
  EXPECT_EQ(m_store.ReadProfileInt(kSettingsSection, "DisengageOnMinimize", -1), 0);
  EXPECT_EQ(m_store.ReadProfileString(kSettingsSection, "Background", ""), chosen);
  EXPECT_EQ(m_store.ReadProfileString(kRecentBackgroundsSection, "File1", ""), chosen);
}

TEST_F(Win32UiTest, AboutShowsTheVersionAndItsLinkReachesTheShellSeam) {
  StoreSettings(0);
  const std::string mailto = std::string("mailto:") + kContactEmail + "?Subject=Quillmark version 1.0.0.0";
  RunProgram({
      [&] {
        if (!Panel()) return false;
        PostMessageW(Panel(), WM_COMMAND, ID_APP_ABOUT, 0);
        return true;
      },
      [&] {
        CDialog* about = InnermostDialog();
        if (!about || Text(about->GetSafeHwnd()) != "About Quillmark") return false;
        EXPECT_EQ(GetWindow(about->GetSafeHwnd(), GW_OWNER), Panel());
        EXPECT_EQ(Text(about->GetDlgItem(1006)), "Quillmark version 1.0.0.0");
        HWND link = about->GetDlgItem(1005);
        EXPECT_EQ(SendMessageW(link, WM_NCHITTEST, 0, 0), HTCLIENT);
        EXPECT_TRUE(SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
        EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
        m_seams.shellOpenResult = false;
        SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        EXPECT_EQ(m_seams.Beeps(), std::vector<unsigned>{0}) << "a failed open beeps";
        EXPECT_EQ(g_aboutLink.m_textColor, RGB(0, 0, 255));
        m_seams.shellOpenResult = true;
        SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        EXPECT_EQ(g_aboutLink.m_textColor, RGB(128, 0, 128));
        PostMessageW(about->GetSafeHwnd(), WM_COMMAND, IDOK, 0);
        return true;
      },
      [&] {
        if (InnermostDialog() != theApp.m_pMainWnd) return false;
        PostMessageW(Panel(), WM_COMMAND, IDOK, 0);
        return true;
      },
  });
  EXPECT_EQ(m_seams.Opened(), (std::vector<std::string>{mailto, mailto}));
}

TEST_F(Win32UiTest, BackgroundIsTiledFromOneOneUnderARaisedEdge) {
  StoreSettings(0);
  const std::filesystem::path tile = m_folder / L"Tile.bmp";
  WriteTile(tile);
  ASSERT_TRUE(m_store.StoreProfileString(kSettingsSection, "Background", WideToUtf8(tile.wstring())));
  RunProgram({[&] {
    HWND panel = Panel();
    if (!panel) return false;
    RECT client{};
    GetClientRect(panel, &client);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(panel);
    HBITMAP target = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(memory, target);
    EXPECT_NE(SendMessageW(panel, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0), 0);
    GdiFlush();
    const auto pixel = [&](int x, int y) {
      return static_cast<const DWORD*>(bits)[y * client.right + x] & 0xFFFFFF;
    };
    constexpr DWORD kRed = 0xFF0000;
    constexpr DWORD kGreen = 0x00FF00;
    // Tiles every 10 pixels from (1, 1), away from the two-pixel edge.
    for (int y = 11; y + 10 < client.bottom; y += 10) {
      for (int x = 11; x + 10 < client.right; x += 10) {
        EXPECT_EQ(pixel(x, y), kRed) << x << "," << y;
        EXPECT_EQ(pixel(x + 1, y + 1), kGreen) << x << "," << y;
      }
    }
    EXPECT_NE(pixel(0, 0), kRed);
    EXPECT_NE(pixel(0, 0), kGreen) << "the raised edge covers the top row and left column";
    EXPECT_NE(pixel(client.right - 1, client.bottom - 1), kGreen) << "and the right and bottom ones";
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(target);
    ReleaseDC(panel, screen);
    PostMessageW(panel, WM_COMMAND, IDOK, 0);
    return true;
  }});
}

TEST(RecentFileListWinTest, FullPathsUseBackslashesAndPathsCompareWithoutCase) {
  EXPECT_EQ(FullPath("C:/Images/../Bitmaps//a.bmp"), "C:\\Bitmaps\\a.bmp");
  EXPECT_EQ(FullPath("C:\\Images\\"), "C:\\Images");
  const CRecentFileList list(0, kRecentBackgroundsSection, "File%d", 10);
  EXPECT_TRUE(list.SamePath("C:\\Images\\Dark.bmp", "c:\\IMAGES\\dark.BMP"));
  EXPECT_TRUE(list.SamePath("C:\\Bilder\\\xC3\x84rger.bmp", "c:\\bilder\\\xC3\xA4rger.bmp"));  // Ä and ä
  EXPECT_FALSE(list.SamePath("C:\\Images\\a.bmp", "C:\\Images\\b.bmp"));
}

}  // namespace

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS;
  InitCommonControlsEx(&controls);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
