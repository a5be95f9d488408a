// Util_GetInstallerWnd against windows this test makes (run under Xvfb: Wine
// creates no windows without a display) and the stored title of the
// company key, with its lines read back from the log file.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/msiUtil.h"
#include "tests/win/win32uTestUtil.h"

using win32utest::Utf8;
using win32utest::Wide;

namespace {

using Strings = std::vector<std::string>;

const wchar_t kInstallerClass[] = L"MsiDialogCloseClass";
const wchar_t kOtherClass[] = L"OvTestOtherWindowClass";
const wchar_t kProductTitle[] = L"Orvane Tools";
const wchar_t kCompanyKey[] = L"SOFTWARE\\Orvane, Inc.";

// The two window classes, registered once for the test program.
bool RegisterClasses()
{
   static const bool ok = [] {
      WNDCLASSW wc = {};
      wc.lpfnWndProc = DefWindowProcW;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = kInstallerClass;
      bool installer = RegisterClassW(&wc) != 0;
      wc.lpszClassName = kOtherClass;
      return installer && RegisterClassW(&wc) != 0;
   }();
   return ok;
}

struct WindowTraits {
   using Handle = HWND;
   static HWND None() { return nullptr; }
   static void Close(HWND h) { DestroyWindow(h); }
};
using Window = OwnedHandle<WindowTraits>;

// The "Wnd" value of the company key, absent while this is made and removed
// when it goes; the key's other values stay, and a key made here goes too.
class StoredTitle {
public:
   StoredTitle()
   {
      DWORD disposition = 0;
      EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kCompanyKey, 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, key_.Out(), &disposition));
      created_ = disposition == REG_CREATED_NEW_KEY;
      RegDeleteValueW(key_.Get(), L"Wnd");
   }
   ~StoredTitle()
   {
      RegDeleteValueW(key_.Get(), L"Wnd");
      DWORD subkeys = 1, values = 1;
      RegQueryInfoKeyW(key_.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                       nullptr, nullptr, nullptr, nullptr);
      key_.Reset();
      if (created_ && subkeys == 0 && values == 0) {
         RegDeleteKeyW(HKEY_LOCAL_MACHINE, kCompanyKey);
      }
   }
   StoredTitle(const StoredTitle &) = delete;
   StoredTitle &operator=(const StoredTitle &) = delete;

   void Set(const std::wstring &title)
   {
      EXPECT_EQ(ERROR_SUCCESS,
                RegSetValueExW(key_.Get(), L"Wnd", 0, REG_SZ,
                               reinterpret_cast<const BYTE *>(title.c_str()),
                               static_cast<DWORD>((title.size() + 1) * sizeof(wchar_t))));
   }

private:
   RegKeyHandle key_;
   bool created_ = false;
};

// The lines of the function itself that one call wrote to the log.
HWND CallAndReadLines(Strings &lines)
{
   win32utest::LogCapture log;
   HWND found = Util_GetInstallerWnd();
   for (const std::string &line : log.Take()) {
      if (line.compare(3, 22, "Util_GetInstallerWnd: ") == 0) {
         lines.push_back(line);
      }
   }
   return found;
}

// The desktop's title, usually empty.
std::string TitleOf(HWND wnd)
{
   wchar_t title[512] = {};
   GetWindowTextW(wnd, title, 512);
   return Utf8(title);
}

} // namespace

TEST(InstallerWnd, PrefersTheStoredTitleThenTheProductThenAnyDialog)
{
   ASSERT_TRUE(RegisterClasses());
   const std::wstring setupTitle = L"Orvane Setup \u00e9\u20ac";
   const std::string attaching = "I1 Util_GetInstallerWnd: Attaching to window with title ";
   struct Shown {
      const wchar_t *windowClass, *title;
   };
   struct Case {
      const char *label;
      const wchar_t *stored;   // null: no "Wnd" value
      std::vector<Shown> windows;
      int found;               // index into windows; -1 the desktop
      bool logsTitle;
   };
   const Case cases[] = {
      {"installer dialog titled for the product", nullptr,
       {{kInstallerClass, kProductTitle}}, 0, false},
      {"stored title first", setupTitle.c_str(),
       {{kInstallerClass, kProductTitle}, {kInstallerClass, setupTitle.c_str()}}, 1, false},
      {"stored title of no window", L"No such window",
       {{kInstallerClass, kProductTitle}}, 0, false},
      {"stored title in another class only", setupTitle.c_str(),
       {{kOtherClass, setupTitle.c_str()}, {kInstallerClass, kProductTitle}}, 1, false},
      {"product title in another class", nullptr, {{kOtherClass, kProductTitle}}, 0, false},
      {"installer dialog of another title", nullptr,
       {{kOtherClass, L"Unrelated"}, {kInstallerClass, setupTitle.c_str()}}, 1, true},
      {"no installer window at all", nullptr, {{kOtherClass, L"Unrelated"}}, -1, true},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.label);
      StoredTitle stored;
      if (c.stored != nullptr) {
         stored.Set(c.stored);
      }
      std::vector<Window> windows;
      for (const Shown &s : c.windows) {
         windows.emplace_back(CreateWindowExW(0, s.windowClass, s.title, WS_OVERLAPPEDWINDOW, 0, 0,
                                              100, 100, nullptr, nullptr,
                                              GetModuleHandleW(nullptr), nullptr));
         ASSERT_TRUE(windows.back())
            << "error " << GetLastError() << " (windows need a display: scripts/with-xvfb.sh)";
      }
      const HWND expected = c.found >= 0 ? windows[c.found].Get() : GetDesktopWindow();
      ASSERT_NE(nullptr, expected);
      Strings lines;
      EXPECT_EQ(expected, CallAndReadLines(lines));
      const std::string title =
         c.found >= 0 ? Utf8(c.windows[c.found].title) : TitleOf(expected);
      EXPECT_EQ(c.logsTitle ? Strings{attaching + "\"" + title + "\""} : Strings{}, lines);
   }
}
