// Util_GetInstallerWnd against windows this test makes (run under Xvfb: Wine
// creates no windows without a display) and the stored title of the
// company key, with its lines read back from the log.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/msiUtil.h"
#include "tests/win/win32uTestUtil.h"

namespace {

using Strings = std::vector<std::string>;

const wchar_t kInstallerClass[] = L"MsiDialogCloseClass";
const wchar_t kOtherClass[] = L"OvTestOtherWindowClass";
const wchar_t kProductTitle[] = L"Orvane Tools";
const wchar_t kCompanyKey[] = L"SOFTWARE\\Orvane, Inc.";

struct WindowTraits {
   using Handle = HWND;
   static HWND None() { return nullptr; }
   static void Close(HWND h) { DestroyWindow(h); }
};
using Window = OwnedHandle<WindowTraits>;

// The "Wnd" value of the company key for one case: a title, no value
// (null), or no key at all (`noKey`). The key goes afterwards when it was
// not there before.
struct StoredTitle {
   StoredTitle(const wchar_t *title, bool noKey)
   {
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kCompanyKey, L"Wnd");
      EXPECT_TRUE(title == nullptr ||
                  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kCompanyKey, L"Wnd", REG_SZ, title,
                                  DWORD((wcslen(title) + 1) * sizeof *title)) == ERROR_SUCCESS);
      EXPECT_TRUE(!noKey || RegDeleteKeyW(HKEY_LOCAL_MACHINE, kCompanyKey) == ERROR_SUCCESS)
         << "the company key holds more than this test's value";
   }
   ~StoredTitle()
   {
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kCompanyKey, L"Wnd");
      hadKey ? RegCreateKeyW(HKEY_LOCAL_MACHINE, kCompanyKey, &key) : RegDeleteKeyW(HKEY_LOCAL_MACHINE, kCompanyKey);
      key && RegCloseKey(key);
   }
   HKEY key = nullptr;
   const bool hadKey = [] {
      HKEY key;
      bool found = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCompanyKey, 0, KEY_READ, &key) == 0;
      found && RegCloseKey(key);
      return found;
   }();
};

} // namespace

TEST(InstallerWnd, PrefersTheStoredTitleThenTheProductThenAnyDialog)
{
   WNDCLASSW wc = {};
   wc.lpfnWndProc = DefWindowProcW;
   wc.hInstance = GetModuleHandleW(nullptr);
   for (const wchar_t *name : {kInstallerClass, kOtherClass}) {
      wc.lpszClassName = name;
      ASSERT_TRUE(RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS);
   }
   const std::wstring setup = L"Orvane Setup \u00e9\u20ac";
   const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane, Inc.";
   const std::string read = "I2 Util_GetKeyValueString: (" + key + "\\Wnd) = \"Orvane Setup \xC3\xA9\xE2\x82\xAC\"",
                     noValue = "E1 Util_GetKeyValueString: Cannot query key value " + key + "\\Wnd| winerror code 2 (",
                     noKey = "E1 Util_GetKeyValueString: Cannot open the registry " + key + ": 2";
   struct Shown { const wchar_t *windowClass, *title; };
   // found: index into windows, -1 the desktop; the stored-title read's line,
   // then whether the attached window's title is logged.
   const struct { const char *label; const wchar_t *stored; bool noKey; std::vector<Shown> windows;
                  int found; std::string readLine; bool logsTitle; } cases[] = {
      {"stored title first", setup.c_str(), false,
       {{kInstallerClass, kProductTitle}, {kInstallerClass, setup.c_str()}}, 1, read, false},
      {"stored title in another class only: the product dialog", setup.c_str(), false,
       {{kOtherClass, setup.c_str()}, {kInstallerClass, kProductTitle}}, 1, read, false},
      {"product title in another class", nullptr, false, {{kOtherClass, kProductTitle}}, 0, noValue, false},
      {"installer dialog of another title", nullptr, true,
       {{kOtherClass, L"Unrelated"}, {kInstallerClass, setup.c_str()}}, 1, noKey, true},
      {"no installer window at all", nullptr, false, {{kOtherClass, L"Unrelated"}}, -1, noValue, true},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      StoredTitle stored(c.stored, c.noKey);
      std::vector<Window> windows;
      for (const Shown &s : c.windows) {
         windows.emplace_back(CreateWindowExW(0, s.windowClass, s.title, WS_OVERLAPPEDWINDOW, 0, 0,
                                              100, 100, nullptr, nullptr, wc.hInstance, nullptr));
         ASSERT_TRUE(windows.back())
            << "error " << GetLastError() << " (windows need a display: scripts/with-xvfb.sh)";
      }
      const HWND expected = c.found >= 0 ? windows[c.found].Get() : GetDesktopWindow();
      ASSERT_NE(nullptr, expected);
      win32utest::LogCapture log;
      EXPECT_EQ(expected, Util_GetInstallerWnd());
      Strings lines = log.Take();
      // The system's text of error 2 is not this test's to fix.
      for (std::string &line : lines) {
         if (line.compare(0, noValue.size(), noValue) == 0) {
            line = noValue;
         }
      }
      wchar_t title[512] = {};
      GetWindowTextW(expected, title, 512);   // the desktop's is usually empty
      Strings want{c.readLine};
      if (c.logsTitle) {
         want.push_back("I1 Util_GetInstallerWnd: Attaching to window with title \"" +
                        win32utest::Utf8(title) + "\"");
      }
      EXPECT_EQ(want, lines);
   }
}
