// Load-order group tags against the prefix's real registry. Each test owns a
// group value under GroupOrderList and service keys whose names carry the
// process id; it writes them itself (Wine assigns no tags) and removes them.
// The log lines are read back from a log session of the check's own.
#include "common/service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/misc/ownedHandle.h"
#include "tests/win/win32uTestUtil.h"

using namespace std::string_literals;
using win32utest::LogCapture;
using win32utest::Utf8;

namespace {

using Words = std::vector<uint32_t>;
using Lines = std::vector<std::string>;

const wchar_t kGroupOrderListPath[] = L"SYSTEM\\CurrentControlSet\\Control\\GroupOrderList";
const std::wstring kServicesPath = L"SYSTEM\\CurrentControlSet\\services\\";
const std::wstring kPid = std::to_wstring(GetCurrentProcessId());
const std::string kMissing = "<no value>";

std::string Bytes(const Words &words)
{
   return std::string(reinterpret_cast<const char *>(words.data()), words.size() * 4);
}

class LoadOrder : public testing::Test {
protected:
   void SetUp() override
   {
      DWORD disposition = 0;
      ASSERT_EQ(ERROR_SUCCESS,
                RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGroupOrderListPath, 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, list_.Out(), &disposition));
      createdListKey_ = disposition == REG_CREATED_NEW_KEY;
      DeleteList();
   }

   void TearDown() override
   {
      DeleteList();
      for (const std::wstring &path : services_) {
         RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
      }
      list_.Reset();
      if (createdListKey_) {
         RegDeleteKeyW(HKEY_LOCAL_MACHINE, kGroupOrderListPath);
      }
   }

   // Lists that must not be written are stored as REG_NONE: the code reads
   // any type but writes REG_BINARY, so a write that puts back the same
   // bytes still shows.
   void SetList(const std::string &bytes, DWORD type = REG_BINARY)
   {
      ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(list_.Get(), group_.c_str(), 0, type,
                                              reinterpret_cast<const BYTE *>(bytes.data()),
                                              static_cast<DWORD>(bytes.size())));
   }
   void SetList(const Words &words, DWORD type = REG_BINARY) { SetList(Bytes(words), type); }
   void DeleteList() { RegDeleteValueW(list_.Get(), group_.c_str()); }

   // The stored value's bytes, kMissing when there is none.
   std::string Stored(DWORD *type = nullptr) const
   {
      char buf[256];
      DWORD size = sizeof buf;
      LONG rc = RegQueryValueExW(list_.Get(), group_.c_str(), nullptr, type,
                                 reinterpret_cast<BYTE *>(buf), &size);
      return rc == ERROR_SUCCESS ? std::string(buf, size) : kMissing;
   }
   // The bytes, and whether they are still of the type they were stored as.
   std::string Unwritten() const
   {
      DWORD type = REG_BINARY;
      std::string bytes = Stored(&type);
      return type == REG_NONE ? bytes : "written as type " + std::to_string(type);
   }

   // A service key of this test; its "Tag" value is the given bytes, or
   // there is none when `tag` is null.
   std::wstring AddService(const std::wstring &suffix, const std::string *tag)
   {
      const std::wstring name = ServiceName(suffix);
      services_.push_back(kServicesPath + name);
      RegKeyHandle key;
      EXPECT_EQ(ERROR_SUCCESS,
                RegCreateKeyExW(HKEY_LOCAL_MACHINE, services_.back().c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, key.Out(), nullptr));
      if (tag != nullptr) {
         EXPECT_EQ(ERROR_SUCCESS,
                   RegSetValueExW(key.Get(), L"Tag", 0, tag->size() == 4 ? REG_DWORD : REG_BINARY,
                                  reinterpret_cast<const BYTE *>(tag->data()),
                                  static_cast<DWORD>(tag->size())));
      }
      return name;
   }
   std::wstring AddService(const std::wstring &suffix, uint32_t tag)
   {
      const std::string bytes = Bytes({tag});
      return AddService(suffix, &bytes);
   }

   static std::wstring ServiceName(const std::wstring &suffix)
   {
      return L"OvTestSvc-" + kPid + L"-" + suffix;
   }

   const std::wstring group_ = L"OvTestGroup-" + kPid;
   const std::string groupUtf8_ = Utf8(group_);
   const std::string notFound_ = " not found in GroupOrderList " + groupUtf8_ +
                                 ", skipping list update";

private:
   RegKeyHandle list_;
   bool createdListKey_ = false;
   std::vector<std::wstring> services_;
};

TEST_F(LoadOrder, InsertPlacesTheTagBehindItsReference)
{
   const std::wstring ref = AddService(L"ref", 20);
   struct Case {
      const char *label;
      Words before;
      uint32_t tag;
      Words after;
      Lines log;
   };
   const Case cases[] = {
      {"move: a listed tag", {3, 10, 20, 30}, 10, {3, 20, 10, 30}, {}},
      {"move of a tag listed right behind", {3, 20, 10, 30}, 10, {3, 20, 10, 30}, {}},
      {"reference in the middle", {3, 10, 20, 30}, 5, {4, 10, 20, 5, 30},
       {"INFO: Tag 5" + notFound_}},
      {"reference last", {2, 10, 20}, 5, {3, 10, 20, 5}, {"INFO: Tag 5" + notFound_}},
      {"reference not listed: at the end", {2, 10, 30}, 5, {3, 10, 30, 5},
       {"INFO: Tag 5" + notFound_}},
      {"empty list of 4 bytes", {0}, 5, {1, 5}, {"INFO: Tag 5" + notFound_}},
      {"tag 0 and the maximum", {2, 0, 20}, 0xFFFFFFFF, {3, 0, 20, 0xFFFFFFFF},
       {"INFO: Tag 4294967295" + notFound_}},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.label);
      SetList(c.before);
      LogCapture mark;
      EXPECT_EQ(0u, InsertServiceInLoadOrder(group_.c_str(), ref.c_str(), c.tag));
      EXPECT_EQ(Bytes(c.after), Stored());
      EXPECT_EQ(c.log, mark.Texts("I0"));
   }
}

TEST_F(LoadOrder, RemoveTakesOutTheFirstOccurrence)
{
   // Narrow names are in the active code page; é is in every Western one.
   const std::wstring wide = AddService(L"svc\u00e9", 20);
   char acp[64];
   int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, acp, sizeof acp, nullptr, nullptr);
   const std::string svc(acp, n > 0 ? n - 1 : 0);
   ASSERT_EQ(wide.size(), svc.size()) << "code page " << GetACP() << " has no single-byte é";
   struct Case {
      const char *label;
      Words before;
      Words after;   // empty: unchanged
      Lines log;
   };
   const Case cases[] = {
      {"first of two", {4, 10, 20, 30, 20}, {3, 10, 30, 20}, {}},
      {"only tag", {1, 20}, {0}, {}},
      {"not listed", {2, 10, 30}, {}, {"INFO: Tag 20" + notFound_}},
      {"the count is no tag", {20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {}, {"INFO: Tag 20" + notFound_}},
      {"empty list", {0}, {}, {"INFO: Tag 20" + notFound_}},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.label);
      SetList(c.before, REG_NONE);
      LogCapture mark;
      EXPECT_EQ(0u, RemoveServiceFromLoadOrder(group_.c_str(), svc.c_str()));
      DWORD type = 0;
      EXPECT_EQ(Bytes(c.after.empty() ? c.before : c.after), Stored(&type));
      EXPECT_EQ(c.after.empty() ? REG_NONE : REG_BINARY, type);
      EXPECT_EQ(c.log, mark.Texts("I0"));
   }
   SetList(Words{2, 10, 20});
   EXPECT_EQ(0u, RemoveServiceFromLoadOrderByTag(group_.c_str(), 10)) << "by tag";
   EXPECT_EQ(Bytes({1, 20}), Stored());
}

TEST_F(LoadOrder, MalformedOrMissingListIsLeftAlone)
{
   const std::wstring ref = AddService(L"ref", 20);
   const std::string readFailed = "ERROR: Read of load order group failed (";
   struct Case {
      const char *label;
      std::string stored;   // kMissing: no value
      DWORD result;
      Lines readLog;   // what reading the list logs
   };
   const Case cases[] = {
      {"count too high", Bytes({3, 10, 20}), ERROR_INVALID_DATA,
       {"ERROR: The GroupOrderList's first field is malformed, was 3 expected 2 based on length 12"}},
      {"count too low", Bytes({0, 20}), ERROR_INVALID_DATA,
       {"ERROR: The GroupOrderList's first field is malformed, was 0 expected 1 based on length 8"}},
      {"6 bytes", Bytes({1, 20}).substr(0, 6), ERROR_INVALID_DATA,
       {"ERROR: The GroupOrderList appears to have a malformed length: 6"}},
      {"no bytes", "", ERROR_INVALID_DATA,
       {"ERROR: The GroupOrderList appears to have a malformed length: 0"}},
      {"missing value", kMissing, ERROR_FILE_NOT_FOUND,
       {"ERROR: Can't open GroupOrderList " + groupUtf8_ + " (2)"}},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.label);
      if (c.stored != kMissing) {
         SetList(c.stored, REG_NONE);
      } else {
         DeleteList();
      }
      const std::string code = std::to_string(c.result);
      Lines removeLog = c.readLog;
      removeLog.push_back(readFailed + code + ")");
      Lines insertLog = removeLog;
      insertLog.push_back("ERROR: RemoveServiceFromLoadOrderByTag failed with (" + code + ").");

      LogCapture mark;
      EXPECT_EQ(c.result, RemoveServiceFromLoadOrderByTag(group_.c_str(), 20));
      EXPECT_EQ(c.stored, c.stored == kMissing ? Stored() : Unwritten());
      EXPECT_EQ(removeLog, mark.Texts("I0"));
      LogCapture insertMark;
      EXPECT_EQ(c.result, InsertServiceInLoadOrder(group_.c_str(), ref.c_str(), 5));
      EXPECT_EQ(c.stored, c.stored == kMissing ? Stored() : Unwritten());
      EXPECT_EQ(insertLog, insertMark.Texts("I0"));
   }
}

TEST_F(LoadOrder, MissingServiceOrTag)
{
   const std::string shortTag = "\x14\x00"s;
   const std::wstring untagged = AddService(L"untagged", nullptr);
   const std::wstring shortened = AddService(L"short", &shortTag);
   const std::wstring missing = ServiceName(L"missing");
   struct Case {
      const char *label;
      std::wstring service;
      DWORD result;
      std::string removeLine, insertLine;
   };
   const std::string open = "ERROR: Can't open service key ";
   const Case cases[] = {
      {"no service key", missing, ERROR_FILE_NOT_FOUND, open, open},
      {"no Tag value", untagged, ERROR_FILE_NOT_FOUND,
       "ERROR: Can't open Tag value for service key ", "ERROR: No Tag value for "},
      {"Tag of 2 bytes", shortened, ERROR_INVALID_DATA,
       "ERROR: Can't open Tag value for service key ", "ERROR: No Tag value for "},
   };
   const Words list = {2, 10, 20};
   for (const Case &c : cases) {
      SCOPED_TRACE(c.label);
      SetList(list, REG_NONE);
      const std::string tail = Utf8(kServicesPath + c.service) + " (" +
                               std::to_string(c.result) + ")";
      LogCapture mark;
      EXPECT_EQ(c.result, RemoveServiceFromLoadOrder(group_.c_str(), Utf8(c.service).c_str()));
      EXPECT_EQ(Lines{c.removeLine + tail}, mark.Texts("I0"));
      LogCapture insertMark;
      EXPECT_EQ(c.result, InsertServiceInLoadOrder(group_.c_str(), c.service.c_str(), 5));
      EXPECT_EQ((Lines{"INFO: Tag 5" + notFound_, c.insertLine + tail}), insertMark.Texts("I0"));
      EXPECT_EQ(Bytes(list), Unwritten());
   }
   // The removal that makes room for a move is written before the reference
   // is read, and stays when that read fails.
   SetList(list);
   EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
             InsertServiceInLoadOrder(group_.c_str(), missing.c_str(), 10));
   EXPECT_EQ(Bytes({1, 20}), Stored());
}

TEST_F(LoadOrder, ReadGroupOrderListOwnsTheWords)
{
   RegKeyHandle key;
   ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kGroupOrderListPath, 0,
                                          KEY_ALL_ACCESS, key.Out()));
   SetList(Words{2, 10, 20});
   Words got = {7, 7, 7, 7, 7, 7, 7, 7, 7};
   EXPECT_EQ(0u, ReadGroupOrderList(key.Get(), group_.c_str(), 2, got));
   EXPECT_EQ((Words{2, 10, 20, 0, 0}), got) << "spare words are zero";
   EXPECT_EQ(0u, ReadGroupOrderList(key.Get(), group_.c_str(), 0, got));
   EXPECT_EQ((Words{2, 10, 20}), got) << "no spare words";
   SetList(Words{9, 10, 20});
   EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA),
             ReadGroupOrderList(key.Get(), group_.c_str(), 1, got));
   EXPECT_TRUE(got.empty()) << "a failed read leaves no words";
}

TEST_F(LoadOrder, NullNamesAreRefused)
{
   const std::wstring ref = AddService(L"ref", 20);
   SetList(Words{1, 20}, REG_NONE);
   LogCapture mark;
   const DWORD invalid = ERROR_INVALID_PARAMETER;
   Words got = {1};
   EXPECT_EQ(invalid, ReadGroupOrderList(nullptr, nullptr, 0, got));
   EXPECT_TRUE(got.empty());
   EXPECT_EQ(invalid, RemoveServiceFromLoadOrderByTag(nullptr, 20));
   EXPECT_EQ(invalid, RemoveServiceFromLoadOrder(group_.c_str(), nullptr));
   EXPECT_EQ(invalid, InsertServiceInLoadOrder(group_.c_str(), nullptr, 5));
   EXPECT_EQ(invalid, InsertServiceInLoadOrder(nullptr, ref.c_str(), 5));
   EXPECT_EQ((Lines{"ERROR: ReadGroupOrderList: no group name given",
                    "ERROR: RemoveServiceFromLoadOrderByTag: no group name given",
                    "ERROR: RemoveServiceFromLoadOrder: no service name given",
                    "ERROR: InsertServiceInLoadOrder: no reference service name given",
                    "ERROR: InsertServiceInLoadOrder: no group name given"}),
             mark.Texts("I0"));
   EXPECT_EQ(Bytes({1, 20}), Unwritten());
}

}  // namespace
