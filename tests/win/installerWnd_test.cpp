// Util_GetInstallerWnd against windows this test makes (run under Xvfb: Wine
// creates no windows without a display) and the stored title of the
// company key, with its lines read back from the log.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/msiUtil.h"
#include "tests/win/expectLines.h"
#include "tests/win/win32uTestUtil.h"

TEST(InstallerWnd, PrefersTheStoredTitleThenTheProductThenAnyDialog)
{
   const wchar_t installer[] = L"MsiDialogCloseClass", other[] = L"STATIC", product[] = L"Orvane Tools";
   const wchar_t companyKey[] = L"SOFTWARE\\Orvane, Inc.";
   const WNDCLASSW wc = {0, DefWindowProcW, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr, nullptr, installer};
   ASSERT_TRUE(RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS);
   const std::wstring setup = L"Orvane Setup \u00e9\u20ac";
   const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane, Inc.";
   const std::string read = "I2 Util_GetKeyValueString: (" + key + "\\Wnd) = \"Orvane Setup \xC3\xA9\xE2\x82\xAC\"",
                     noValue = "E1 Util_GetKeyValueString: Cannot query key value " + key + "\\Wnd| winerror code 2 (*";
   // windows: class and title of each; found: index into them, -1 the
   // desktop; then whether the attached window's title is logged.
   const struct {
      const char *label;
      const wchar_t *stored;
      std::vector<std::pair<const wchar_t *, const wchar_t *>> windows;
      int found;
      bool logsTitle;
   } cases[] = {
      {"stored title first", setup.c_str(), {{installer, product}, {installer, setup.c_str()}}, 1, false},
      {"stored title in another class only: the product dialog", setup.c_str(),
       {{other, setup.c_str()}, {installer, product}}, 1, false},
      {"product title in another class", nullptr, {{other, product}}, 0, false},
      {"installer dialog of another title", nullptr, {{other, L"Unrelated"}, {installer, setup.c_str()}}, 1, true},
      {"no installer window at all", nullptr, {{other, L"Unrelated"}}, -1, true},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, companyKey, L"Wnd");
      ASSERT_TRUE(c.stored == nullptr || RegSetKeyValueW(HKEY_LOCAL_MACHINE, companyKey, L"Wnd", REG_SZ, c.stored,
                                                         DWORD((wcslen(c.stored) + 1) * 2)) == ERROR_SUCCESS);
      std::vector<HWND> windows;
      for (const auto &[windowClass, title] : c.windows) {
         windows.push_back(CreateWindowExW(0, windowClass, title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                           wc.hInstance, nullptr));
         EXPECT_TRUE(windows.back()) << "error " << GetLastError() << " (windows need a display: scripts/with-xvfb.sh)";
      }
      const HWND expected = c.found >= 0 ? windows[c.found] : GetDesktopWindow();
      win32utest::LogCapture log;
      EXPECT_EQ(expected, Util_GetInstallerWnd());
      wchar_t title[512] = {};
      GetWindowTextW(expected, title, 512);   // the desktop's is usually empty
      std::vector<std::string> want{c.stored != nullptr ? read : noValue};
      if (c.logsTitle) {
         want.push_back("I1 Util_GetInstallerWnd: Attaching to window with title \"" + win32utest::Utf8(title) + "\"");
      }
      testutil::ExpectTranscript(want, log.Take());
      for (HWND w : windows) {
         DestroyWindow(w);
      }
   }
   RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, companyKey, L"Wnd");
   RegDeleteKeyW(HKEY_LOCAL_MACHINE, companyKey);   // fails while it holds anything else
}
