// OVDisplayWarnings and OVMessageBox in installer sessions. Warnings are
// caught by an external user-interface handler; message boxes (under Xvfb)
// by a thread that reads the box's caption, text, buttons and icon and
// presses the button the case names.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <vector>

#include "tests/msi/msiSession.h"
#include "tests/msi/tablePackage.h"

using namespace msitest;

namespace {

using Strings = std::vector<std::string>;

// The action's lines, the library's errors and its posted warnings.
Strings RunAction(const LoadedDll &dll, const char *action, MSIHANDLE install)
{
   LogMark mark;
   EXPECT_EQ(0u, dll.Call(action, install)) << action;
   Strings lines;
   for (const std::string &line : mark.Transcript()) {
      if (line.rfind("I0 ", 0) == 0 || line.rfind("E1 ", 0) == 0 ||
          line.rfind("I1 MsiUtil_PostWarningMessage:", 0) == 0) {
         lines.push_back(line);
      }
   }
   return lines;
}

const Sql kWarningsTable = {"CREATE TABLE `OVDisplayWarnings` (`Condition` CHAR(255), `Message` SHORT "
                            "PRIMARY KEY `Condition`)", {}};

Sql Warning(const std::string &condition, const std::string &message)
{
   return {"INSERT INTO `OVDisplayWarnings` (`Condition`" + std::string(message.empty() ? "" : ", `Message`") +
              ") VALUES (?" + (message.empty() ? "" : ", " + message) + ")",
           {condition}};
}

TEST(DisplayWarnings, PostsTheWarningsOfTrueConditions)
{
   LoadedDll dll;
   const std::string posting = "I1 MsiUtil_PostWarningMessage: Posting warning message ";
   const std::string notTrue = "\" is not TRUE, do not show message.";
   const std::string long130 = "P=\"" + std::string(126, 'x') + "\"";
   const struct {
      const char *label;
      std::vector<Sql> rows;
      Strings lines, warnings;
   } cases[] = {
      // Rows come in the order of their keys' strings in the package, the
      // empty (null) one first.
      {"true, false, empty and broken conditions",
       {kWarningsTable, Warning("1", "25003"), Warning("NOPE=1", "25001"), Warning("", "25001"),
        Warning("(((", "25001"), Warning("NOT NOPE", "25001")},
       {"I0 Condition \"" + notTrue, posting + "25003", "I0 Condition \"NOPE=1" + notTrue,
        "I0 Condition \"(((" + notTrue, posting + "25001"},
       {"warning Warning 25003.Plain warning message.", "warning Warning 25001.Plain error message."}},
      {"condition of 130 bytes", {kWarningsTable, Warning(long130, "25001")},
       {"I0 Failed to retrieve condition string: 234"}, {}},
      {"condition of 127 bytes", {kWarningsTable, Warning(long130.substr(3), "25001")},
       {"I0 Condition \"" + long130.substr(3) + notTrue}, {}},
      {"no message number", {kWarningsTable, Warning("1", "")}, {"I0 Failed to retrieve message number."}, {}},
      {"no table", {}, {"I0 Failed to open database view: 1615"}, {}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      TablePackage package({}, c.rows);
      ASSERT_TRUE(package.Ok()) << package.Failure();
      MessageRecorder recorder;
      Strings lines = {"I0 OVDisplayWarnings running"};
      lines.insert(lines.end(), c.lines.begin(), c.lines.end());
      lines.push_back("I0 OVDisplayWarnings ended");
      EXPECT_EQ(lines, RunAction(dll, "OVDisplayWarnings", package.Handle()));
      EXPECT_EQ(c.warnings, recorder.Messages());
   }
}

// What the answering thread saw of the one message box of this process.
struct Box {
   bool seen = false;
   std::string caption, text;
   std::vector<int> buttons;   // visible button ids in creation order
   bool exclamation = false, question = false;
};

std::string WindowText(HWND w)
{
   wchar_t text[512] = {};
   GetWindowTextW(w, text, 512);
   return Utf8(text);
}

HWND FindBox()
{
   struct Search { HWND found = nullptr; } search;
   EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
         DWORD pid = 0;
         wchar_t cls[64] = {};
         GetWindowThreadProcessId(w, &pid);
         GetClassNameW(w, cls, 64);
         if (pid == GetCurrentProcessId() && std::wstring(cls) == L"#32770" && IsWindowVisible(w)) {
            reinterpret_cast<Search *>(p)->found = w;
            return FALSE;
         }
         return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
   return search.found;
}

// Waits for a box until `stop`, describes it and presses `press`.
Box Answer(int press, const std::atomic<bool> &stop)
{
   Box box;
   HWND w = nullptr;
   for (int i = 0; i < 400 && !stop && (w = FindBox()) == nullptr; i++) {
      Sleep(50);
   }
   if (w == nullptr) {
      return box;
   }
   box.seen = true;
   box.caption = WindowText(w);
   for (HWND child = GetWindow(w, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      wchar_t cls[64] = {};
      GetClassNameW(child, cls, 64);
      if (!IsWindowVisible(child)) {
         continue;
      }
      if (std::wstring(cls) == L"Button") {
         box.buttons.push_back(GetDlgCtrlID(child));
      } else if (std::wstring(cls) == L"Static") {
         if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            HICON icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
            box.exclamation = icon != nullptr && icon == LoadIconW(nullptr, MAKEINTRESOURCEW(32515));
            box.question = icon != nullptr && icon == LoadIconW(nullptr, MAKEINTRESOURCEW(32514));
         } else if (!WindowText(child).empty()) {
            box.text = WindowText(child);
         }
      }
   }
   PostMessageW(w, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(w, press)));
   return box;
}

TEST(MessageBoxAction, ShowsTheErrorTableTextAndStoresTheAnswer)
{
   LoadedDll dll;
   TablePackage package({}, {{"INSERT INTO `Error` (`Error`, `Message`) VALUES (25002, ?)", {"Number [2], text [3]."}},
                             {"INSERT INTO `Error` (`Error`, `Message`) VALUES (25004, '')", {}}});
   ASSERT_TRUE(package.Ok()) << package.Failure();
   const std::vector<int> yesNo = {IDYES, IDNO}, ok = {IDOK}, okCancel = {IDOK, IDCANCEL};
   const struct {
      const char *label, *uiLevel, *data;
      int press;
      Strings lines;   // between the opening and closing lines
      const char *text;   // of the box; null: no box
      std::vector<int> buttons;
      bool exclamation, question;
      const char *result;   // MSGBOX_RTN afterwards
   } cases[] = {
      {"Yes and No, No pressed", "5", "25001;36", IDNO, {}, "Plain error message.", yesNo, false, true, "7"},
      {"style left out", "5", "25001", IDOK, {}, "Plain error message.", ok, true, false, "1"},
      {"style 0", "5", "25001;0", IDOK, {}, "Plain error message.", ok, true, false, "1"},
      {"text not formatted, Cancel", "5", "25002;1", IDCANCEL, {}, "Number [2], text [3].", okCancel, false, false, "2"},
      {"basic user interface", "3", "25001;4", IDYES, {}, "Plain error message.", yesNo, false, false, "6"},
      {"silent", "2", "25001;36", IDOK, {"I0 Silent install so exiting."}, nullptr, {}, false, false, "stale"},
      {"no parameter", "5", "", IDOK, {"I0 Message box parameter property not set."}, nullptr, {}, false, false, "stale"},
      {"abc;4", "5", "abc;4", IDOK, {"I0 Error number property not set."}, nullptr, {}, false, false, "stale"},
      {"not in the Error table", "5", "29999", IDOK, {"I0 Failed to fetch the records : 259"}, nullptr, {}, false,
       false, "stale"},
      {"empty message", "5", "25004", IDOK, {"I0 Failed to retrieve error string : 0, size : 0"}, nullptr, {}, false,
       false, "stale"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      ASSERT_EQ(0u, MsiSetPropertyW(package.Handle(), L"UILevel", Wide(c.uiLevel).c_str()));
      ASSERT_EQ(0u, MsiSetPropertyW(package.Handle(), L"MSGBOX_DATA", Wide(c.data).c_str()));
      ASSERT_EQ(0u, MsiSetPropertyW(package.Handle(), L"MSGBOX_RTN", L"stale"));
      std::atomic<bool> stop{false};
      std::future<Box> answer = std::async(std::launch::async, [&] { return Answer(c.press, stop); });
      Strings lines = {"I0 OVMessageBox running."};
      lines.insert(lines.end(), c.lines.begin(), c.lines.end());
      lines.push_back("I0 OVMessageBox ended");
      EXPECT_EQ(lines, RunAction(dll, "OVMessageBox", package.Handle()));
      stop = true;
      const Box box = answer.get();
      EXPECT_EQ(c.text != nullptr, box.seen);
      if (c.text != nullptr) {
         EXPECT_EQ("Orvane Tools Test", box.caption);
         EXPECT_EQ(c.text, box.text);
         EXPECT_EQ(c.buttons, box.buttons);
         EXPECT_EQ(c.exclamation, box.exclamation);
         EXPECT_EQ(c.question, box.question);
      }
      char result[32] = {};
      DWORD size = sizeof result;
      MsiGetPropertyA(package.Handle(), "MSGBOX_RTN", result, &size);
      EXPECT_STREQ(c.result, result);
   }
}

}  // namespace
