// Load-order group tags against the prefix's real registry: the list edits
// themselves are covered in tests/unit/loadOrderList_test; here their reading,
// writing and logging. Each test owns a group value and service keys named
// with the process id; it writes their tags itself (Wine assigns none).
#include "common/service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/misc/ownedHandle.h"
#include "tests/win/win32uTestUtil.h"

using win32utest::LogCapture;
using win32utest::Utf8;

namespace {

using Words = std::vector<uint32_t>;
using Lines = std::vector<std::string>;

const wchar_t kListPath[] = L"SYSTEM\\CurrentControlSet\\Control\\GroupOrderList";
const std::wstring kServicesPath = L"SYSTEM\\CurrentControlSet\\services\\";
const std::wstring kPid = std::to_wstring(GetCurrentProcessId());
const std::string kMissing = "<no value>";
const DWORD kNotFound = ERROR_FILE_NOT_FOUND, kInvalid = ERROR_INVALID_DATA;

std::string Bytes(const Words &words)
{
   return std::string(reinterpret_cast<const char *>(words.data()), words.size() * 4);
}

class LoadOrder : public testing::Test {
protected:
   void SetUp() override
   {
      DWORD disposition = 0;
      ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kListPath, 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, list_.Out(), &disposition));
      createdListKey_ = disposition == REG_CREATED_NEW_KEY;
      RegDeleteValueW(list_.Get(), group_.c_str());
   }
   void TearDown() override
   {
      RegDeleteValueW(list_.Get(), group_.c_str());
      for (const std::wstring &path : services_) {
         RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
      }
      list_.Reset();
      createdListKey_ && RegDeleteKeyW(HKEY_LOCAL_MACHINE, kListPath);
   }

   // Lists that must not be written are stored as REG_NONE: the code writes
   // REG_BINARY, so even a write of the same bytes shows. kMissing: no value.
   void SetList(const std::string &bytes, DWORD type = REG_BINARY)
   {
      if (bytes == kMissing) {
         RegDeleteValueW(list_.Get(), group_.c_str());
         return;
      }
      ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(list_.Get(), group_.c_str(), 0, type,
                                              reinterpret_cast<const BYTE *>(bytes.data()),
                                              static_cast<DWORD>(bytes.size())));
   }
   // The stored bytes, prefixed with the type when it is not REG_BINARY.
   std::string Stored() const
   {
      char buf[256];
      DWORD size = sizeof buf, type = 0;
      LONG rc = RegQueryValueExW(list_.Get(), group_.c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE *>(buf), &size);
      return rc != ERROR_SUCCESS ? kMissing
                                 : (type == REG_BINARY ? "" : "type " + std::to_string(type) + ":") +
                                      std::string(buf, size);
   }

   // A service key of this test with the given "Tag" bytes (none: no value).
   std::wstring AddService(const std::wstring &suffix, const std::string &tag = kMissing)
   {
      const std::wstring name = L"OvTestSvc-" + kPid + L"-" + suffix;
      services_.push_back(kServicesPath + name);
      RegKeyHandle key;
      EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, services_.back().c_str(), 0,
                                               nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(),
                                               nullptr));
      EXPECT_TRUE(tag == kMissing ||
                  RegSetValueExW(key.Get(), L"Tag", 0, tag.size() == 4 ? REG_DWORD : REG_BINARY,
                                 reinterpret_cast<const BYTE *>(tag.data()),
                                 static_cast<DWORD>(tag.size())) == ERROR_SUCCESS);
      return name;
   }

   const std::wstring group_ = L"OvTestGroup-" + kPid;
   const std::string notFound_ =
      " not found in GroupOrderList " + Utf8(group_) + ", skipping list update";
   RegKeyHandle list_;

private:
   bool createdListKey_ = false;
   std::vector<std::wstring> services_;
};

TEST_F(LoadOrder, InsertAndRemoveWriteTheEditedList)
{
   const std::wstring ref = AddService(L"ref", Bytes({20}));
   // Narrow names are in the active code page; é is in every Western one.
   const std::wstring wide = AddService(L"svc\u00e9", Bytes({20}));
   char acp[64];
   int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, acp, sizeof acp, nullptr, nullptr);
   const std::string svc(acp, n > 0 ? n - 1 : 0);
   ASSERT_EQ(wide.size(), svc.size()) << "code page " << GetACP() << " has no single-byte é";
   const uint32_t kRemove = 0;   // else the tag to insert behind ref
   // after empty: unchanged (stored as REG_NONE, so that any write shows).
   const struct { const char *label; Words before; uint32_t tag; Words after; Lines log; } cases[] = {
      {"move: a listed tag", {3, 10, 20, 30}, 10, {3, 20, 10, 30}, {}},
      {"reference not listed: at the end", {2, 10, 30}, 5, {3, 10, 30, 5},
       {"INFO: Tag 5" + notFound_}},
      {"into an empty list of 4 bytes", {0}, 5, {1, 5}, {"INFO: Tag 5" + notFound_}},
      {"remove the first of two", {4, 10, 20, 30, 20}, kRemove, {3, 10, 30, 20}, {}},
      {"remove an unlisted tag", {2, 10, 30}, kRemove, {}, {"INFO: Tag 20" + notFound_}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      SetList(Bytes(c.before), c.after.empty() ? REG_NONE : REG_BINARY);
      LogCapture log;
      EXPECT_EQ(0u, c.tag == kRemove ? RemoveServiceFromLoadOrder(group_.c_str(), svc.c_str())
                                     : InsertServiceInLoadOrder(group_.c_str(), ref.c_str(), c.tag));
      EXPECT_EQ(c.after.empty() ? "type 0:" + Bytes(c.before) : Bytes(c.after), Stored());
      EXPECT_EQ(c.log, log.Texts("I0"));
   }
}

TEST_F(LoadOrder, MalformedOrMissingListIsLeftAlone)
{
   const std::wstring ref = AddService(L"ref", Bytes({20}));
   const struct { const char *label; std::string stored; DWORD result; std::string readLine; }
      cases[] = {
      {"count too high", Bytes({3, 10, 20}), kInvalid,
       "ERROR: The GroupOrderList's first field is malformed, was 3 expected 2 based on length 12"},
      {"6 bytes", Bytes({1, 20}).substr(0, 6), kInvalid,
       "ERROR: The GroupOrderList appears to have a malformed length: 6"},
      {"missing value", kMissing, kNotFound, "ERROR: Can't open GroupOrderList " + Utf8(group_) +
                                                " (2)"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      SetList(c.stored, REG_NONE);
      const std::string code = std::to_string(c.result);
      Lines want = {c.readLine, "ERROR: Read of load order group failed (" + code + ")"};
      LogCapture log;
      EXPECT_EQ(c.result, RemoveServiceFromLoadOrderByTag(group_.c_str(), 20));
      EXPECT_EQ(want, log.Texts("I0"));
      LogCapture insertLog;
      EXPECT_EQ(c.result, InsertServiceInLoadOrder(group_.c_str(), ref.c_str(), 5));
      want.push_back("ERROR: RemoveServiceFromLoadOrderByTag failed with (" + code + ").");
      EXPECT_EQ(want, insertLog.Texts("I0"));
      EXPECT_EQ(c.stored == kMissing ? kMissing : "type 0:" + c.stored, Stored());
   }
}

TEST_F(LoadOrder, MissingServiceOrTag)
{
   const std::string open = "ERROR: Can't open service key ",
                     noTag = "ERROR: Can't open Tag value for service key ";
   const std::wstring missing = L"OvTestSvc-" + kPid + L"-missing";
   const struct { const char *label; std::wstring service; DWORD result;
                  std::string removeLine, insertLine; } cases[] = {
      {"no service key", missing, kNotFound, open, open},
      {"no Tag value", AddService(L"untagged"), kNotFound, noTag, "ERROR: No Tag value for "},
      {"Tag of 2 bytes", AddService(L"short", std::string("\x14\x00", 2)), kInvalid, noTag,
       "ERROR: No Tag value for "},
   };
   const Words list = {2, 10, 20};
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      SetList(Bytes(list), REG_NONE);
      const std::string tail = Utf8(kServicesPath + c.service) + " (" +
                               std::to_string(c.result) + ")";
      LogCapture log;
      EXPECT_EQ(c.result, RemoveServiceFromLoadOrder(group_.c_str(), Utf8(c.service).c_str()));
      EXPECT_EQ(Lines{c.removeLine + tail}, log.Texts("I0"));
      LogCapture insertLog;
      EXPECT_EQ(c.result, InsertServiceInLoadOrder(group_.c_str(), c.service.c_str(), 5));
      EXPECT_EQ((Lines{"INFO: Tag 5" + notFound_, c.insertLine + tail}), insertLog.Texts("I0"));
      EXPECT_EQ("type 0:" + Bytes(list), Stored());
   }
   // The removal that makes room for a move is written before the reference
   // is read, and stays when that read fails.
   SetList(Bytes(list));
   EXPECT_EQ(kNotFound, InsertServiceInLoadOrder(group_.c_str(), missing.c_str(), 10));
   EXPECT_EQ(Bytes({1, 20}), Stored());
}

TEST_F(LoadOrder, ReadGroupOrderListAndNullNames)
{
   const std::wstring ref = AddService(L"ref", Bytes({20}));
   SetList(Bytes({9, 10, 20}));
   Words got = {7};
   EXPECT_EQ(kInvalid, ReadGroupOrderList(list_.Get(), group_.c_str(), 1, got));
   EXPECT_TRUE(got.empty()) << "a failed read leaves no words";
   SetList(Bytes({2, 10, 20}), REG_NONE);
   got = {7, 7, 7, 7, 7, 7, 7, 7, 7};
   EXPECT_EQ(0u, ReadGroupOrderList(list_.Get(), group_.c_str(), 2, got));
   EXPECT_EQ((Words{2, 10, 20, 0, 0}), got) << "spare words are zero";

   LogCapture log;
   const DWORD invalid = ERROR_INVALID_PARAMETER;
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
             log.Texts("I0"));
   EXPECT_EQ("type 0:" + Bytes({2, 10, 20}), Stored());
}

}  // namespace
