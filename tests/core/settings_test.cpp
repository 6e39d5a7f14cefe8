#include "core/uAppState.h"
#include "core/uSettings.h"

#include "support/ScratchMachine.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

using korvane::testing::ScratchMachine;

namespace {

std::optional<DWORD> UserDword(const char* keyPath, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, value = 0, size = sizeof value;
  LSTATUS rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_DWORD) return std::nullopt;
  return value;
}

std::optional<std::string> UserText(const char* keyPath, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, size = 0;
  LSTATUS rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  std::vector<char> buf(size + 1, '\0');
  if (rc == ERROR_SUCCESS)
    rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
  return std::string(buf.data());
}

void SetUserDword(const char* keyPath, const char* name, DWORD value) {
  HKEY key;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4), ERROR_SUCCESS);
  RegCloseKey(key);
}

void SetUserText(const char* keyPath, const char* name, const std::string& value) {
  HKEY key;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void DeleteUserValue(const char* keyPath, const char* name) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

const char* const kKey = SettingsKeyName;
const char* const kExe = "/opt/korvane/korvane";

TEST(SettingsTest, FirstStartWritesDefaultsAndTheRunEntry) {
  ScratchMachine m;
  TSettings s;
  LoadSettings(s, m.Temp());
  EXPECT_TRUE(s.CloseToTray);
  EXPECT_TRUE(s.AutoRun);
  EXPECT_FALSE(s.IsSysUpdated);
  EXPECT_FALSE(s.UseProxy);
  EXPECT_TRUE(SaveSettings(s, kExe));

  for (const char* name : {"CloseToTray", "AutoRun"}) EXPECT_EQ(UserDword(kKey, name), 1u) << name;
  for (const char* name : {"IsSysUpdated", "UseProxy", "udDrivers", "odDrivers", "tDrivers"})
    EXPECT_EQ(UserDword(kKey, name), 0u) << name;
  for (const char* name : {"LastScan", "ProxyHost", "ProxyPort", "ProxyLogin", "ProxyPassw"})
    EXPECT_EQ(UserText(kKey, name), std::string()) << name;
  EXPECT_FALSE(UserText(kKey, "CACertData"));
  EXPECT_EQ(UserText(RunKeyName, "Korvane"), std::string(kExe) + " -t");
  EXPECT_FALSE(std::filesystem::exists(m.Temp() + "ccc3"));
}

TEST(SettingsTest, BooleansAreTrueOnlyForOne) {
  ScratchMachine m;
  SetUserDword(kKey, "CloseToTray", 2);
  SetUserDword(kKey, "AutoRun", 0xFFFFFFFFu);
  SetUserDword(kKey, "IsSysUpdated", 1);
  SetUserDword(kKey, "UseProxy", 1);
  TSettings s;
  LoadSettings(s, m.Temp());
  EXPECT_FALSE(s.CloseToTray);
  EXPECT_FALSE(s.AutoRun);
  EXPECT_TRUE(s.IsSysUpdated);
  EXPECT_TRUE(s.UseProxy);
  SaveSettings(s, kExe);
  EXPECT_EQ(UserDword(kKey, "CloseToTray"), 0u);
  EXPECT_EQ(UserDword(kKey, "AutoRun"), 0u);
}

TEST(SettingsTest, RoundTripOfEveryField) {
  ScratchMachine m;
  TSettings out;
  out.AutoRun = false;
  out.CloseToTray = true;
  out.UseProxy = true;
  out.IsSysUpdated = true;
  out.LastScan = "12/9/2026 7:05:03 AM";
  out.ProxyHost = "proxy.local";
  out.ProxyPort = "3128";
  out.ProxyLogin = "me";
  out.ProxyPassw =
      "s\xE9"
      "cret";  // code-page text
  out.CACertData = "-----BEGIN CERTIFICATE-----\r\nMIIB\r\n-----END CERTIFICATE-----";
  out.udDrivers = 30;
  out.odDrivers = 4;
  out.tDrivers = 34;
  SaveSettings(out, kExe);
  TSettings in;
  LoadSettings(in, m.Temp());
  EXPECT_EQ(in.AutoRun, out.AutoRun);
  EXPECT_EQ(in.CloseToTray, out.CloseToTray);
  EXPECT_EQ(in.UseProxy, out.UseProxy);
  EXPECT_EQ(in.IsSysUpdated, out.IsSysUpdated);
  EXPECT_EQ(in.LastScan, out.LastScan);
  EXPECT_EQ(in.ProxyHost, out.ProxyHost);
  EXPECT_EQ(in.ProxyPort, out.ProxyPort);
  EXPECT_EQ(in.ProxyLogin, out.ProxyLogin);
  EXPECT_EQ(in.ProxyPassw, out.ProxyPassw);
  EXPECT_EQ(in.CACertData, out.CACertData);
  EXPECT_EQ(in.udDrivers, 30);
  EXPECT_EQ(in.odDrivers, 4);
  EXPECT_EQ(in.tDrivers, 34);
}

TEST(SettingsTest, CertificateFileHoldsExactlyTheStoredText) {
  ScratchMachine m;
  // Line breaks inside, none at the end, bytes above 0x7F: all kept as they are.
  const std::string cert = "-----BEGIN CERTIFICATE-----\r\nAB\xC0\xFF\ncd\r\n-----END CERTIFICATE-----";
  SetUserText(kKey, "CACertData", cert);
  // An older, longer file is replaced whole.
  {
    std::FILE* f = std::fopen((m.Temp() + "ccc3").c_str(), "wb");
    std::string old(4096, 'x');
    std::fwrite(old.data(), 1, old.size(), f);
    std::fclose(f);
  }
  TSettings s;
  LoadSettings(s, m.Temp());
  EXPECT_EQ(s.CACertData, cert);
  EXPECT_EQ(m.Read(m.Temp() + "ccc3"), cert);
}

// A link planted at "ccc3" in the temporary folder: the certificate replaces the link,
// and the file it points at keeps its bytes.
TEST(SettingsTest, CertificateFileNeverWritesThroughAPlantedLink) {
  ScratchMachine m;
  SetUserText(kKey, "CACertData", "CERT");
  const std::string victim = m.Temp() + "victim";
  {
    std::FILE* f = std::fopen(victim.c_str(), "wb");
    std::fputs("precious", f);
    std::fclose(f);
  }
  ASSERT_EQ(::symlink(victim.c_str(), (m.Temp() + "ccc3").c_str()), 0);
  TSettings s;
  LoadSettings(s, m.Temp());
  EXPECT_EQ(m.Read(victim), "precious");
  EXPECT_FALSE(std::filesystem::is_symlink(m.Temp() + "ccc3"));
  EXPECT_EQ(m.Read(m.Temp() + "ccc3"), "CERT");
}

TEST(SettingsTest, EmptyCertificateInMemoryNeverErasesTheStoredOne) {
  ScratchMachine m;
  SetUserText(kKey, "CACertData", "STORED");
  TSettings s;  // CACertData empty
  SaveSettings(s, kExe);
  EXPECT_EQ(UserText(kKey, "CACertData"), "STORED");
  LoadSettings(s, m.Temp());
  EXPECT_EQ(s.CACertData, "STORED");
  EXPECT_EQ(m.Read(m.Temp() + "ccc3"), "STORED");
}

TEST(SettingsTest, SwitchingAutoRunOffRemovesTheRunValueAtSave) {
  ScratchMachine m;
  TSettings s;
  LoadSettings(s, m.Temp());
  SaveSettings(s, kExe);
  ASSERT_TRUE(UserText(RunKeyName, "Korvane"));
  s.AutoRun = false;
  EXPECT_TRUE(UserText(RunKeyName, "Korvane"));  // not at once
  SaveSettings(s, kExe);
  EXPECT_FALSE(UserText(RunKeyName, "Korvane"));
  // Deleting an absent value is no error.
  EXPECT_TRUE(SaveSettings(s, kExe));
  s.AutoRun = true;
  SaveSettings(s, "/path with spaces/korvane");
  EXPECT_EQ(UserText(RunKeyName, "Korvane"), "/path with spaces/korvane -t");
}

TEST(SettingsTest, AbsentTextValuesLeaveTheFieldsAsTheyWere) {
  ScratchMachine m;
  TSettings s;
  s.ProxyHost = "in-memory";
  s.LastScan = "1/2/2007";
  SaveSettings(s, kExe);
  DeleteUserValue(kKey, "ProxyHost");
  DeleteUserValue(kKey, "LastScan");
  s.ProxyHost = "changed";
  s.LastScan = "kept";
  LoadSettings(s, m.Temp());
  EXPECT_EQ(s.ProxyHost, "changed");
  EXPECT_EQ(s.LastScan, "kept");
  // Absent numbers and booleans take their defaults instead.
  DeleteUserValue(kKey, "tDrivers");
  DeleteUserValue(kKey, "CloseToTray");
  s.tDrivers = 9;
  s.CloseToTray = false;
  LoadSettings(s, m.Temp());
  EXPECT_EQ(s.tDrivers, 0);
  EXPECT_TRUE(s.CloseToTray);
}

TEST(SettingsTest, ValueOfAnotherTypeIsSkippedAndTheLoadGoesOn) {
  ScratchMachine m;
  SetUserText(kKey, "AutoRun", "0");   // text where a number belongs
  SetUserDword(kKey, "ProxyHost", 7);  // number where text belongs
  SetUserText(kKey, "tDrivers", "12");
  SetUserDword(kKey, "UseProxy", 1);  // read after the bad ones
  SetUserText(kKey, "ProxyPassw", "pw");
  SetUserDword(kKey, "odDrivers", 3);
  TSettings s;
  s.ProxyHost = "before";
  s.tDrivers = 5;
  LoadSettings(s, m.Temp());
  EXPECT_TRUE(s.AutoRun);            // default
  EXPECT_EQ(s.ProxyHost, "before");  // left as it was
  EXPECT_EQ(s.tDrivers, 0);          // default
  EXPECT_TRUE(s.UseProxy);
  EXPECT_EQ(s.ProxyPassw, "pw");
  // The counts of one scan go together: with tDrivers refused, the 3 out of date
  // drivers of a total of 0 are no figure to draw a diagram from.
  EXPECT_EQ(s.odDrivers, 0);
  EXPECT_EQ(s.udDrivers, 0);
}

TEST(SettingsTest, ScanCountsThatDoNotAddUpAreNotShown) {
  ScratchMachine m;
  struct Case {
    DWORD t, ud, od;
    bool kept;
  };
  const Case cases[] = {
      {10, 7, 3, true},
      {0, 0, 0, true},
      {10, 10, 0, true},
      {10, 3, 3, false},
      {10, 0xFFFFFFFF, 11, false},  // -1 as stored
      {0xFFFFFFFB, 0, 0, false},
  };
  for (const Case& c : cases) {
    SetUserDword(kKey, "tDrivers", c.t);
    SetUserDword(kKey, "udDrivers", c.ud);
    SetUserDword(kKey, "odDrivers", c.od);
    TSettings s;
    LoadSettings(s, m.Temp());
    EXPECT_EQ(s.tDrivers, c.kept ? static_cast<int32_t>(c.t) : 0) << c.t << " " << c.ud << " " << c.od;
    EXPECT_EQ(s.udDrivers, c.kept ? static_cast<int32_t>(c.ud) : 0);
    EXPECT_EQ(s.odDrivers, c.kept ? static_cast<int32_t>(c.od) : 0);
  }
}

TEST(SettingsTest, CertificateFileFailureIsReportedAfterEverythingIsLoaded) {
  ScratchMachine m;
  SetUserText(kKey, "CACertData", "CERT");
  SetUserDword(kKey, "tDrivers", 11);
  SetUserDword(kKey, "udDrivers", 11);
  SetUserText(kKey, "ProxyHost", "h");
  TSettings s;
  const std::string missing = m.Root() + "/no-such-folder/";
  EXPECT_EQ(LoadSettings(s, missing).Kind, TCertFileKind::FileFailed);
  EXPECT_EQ(s.CACertData, "CERT");
  EXPECT_EQ(s.tDrivers, 11);
  EXPECT_EQ(s.ProxyHost, "h");
  EXPECT_FALSE(std::filesystem::exists(missing + "ccc3"));
  // No temporary folder at all: also reported, never written to the working folder.
  TSettings t;
  EXPECT_EQ(LoadSettings(t, "").Kind, TCertFileKind::NoTempFolder);
  EXPECT_EQ(t.CACertData, "CERT");
}

// The certificate fetch's store writes "CACertData" and "ccc3" and nothing
// else: settings changed in memory (not yet saved) stay unsaved, and the
// figures on disk are not read back over the ones in memory. A failed fetch
// keeps the last certificate and puts its file back.
TEST(SettingsTest, StoringAFetchedCertificateWritesOnlyTheCertificate) {
  ScratchMachine m;
  SetUserText(kKey, "ProxyHost", "stored-host");
  SetUserDword(kKey, "tDrivers", 4);
  TSettings s;
  ASSERT_TRUE(LoadSettings(s, m.Temp()).Ok());
  s.ProxyHost = "edited-host";
  s.tDrivers = 9;

  TCertFileResult r = StoreCACert(s, m.Temp(), "PEM-1");
  EXPECT_TRUE(r.Ok()) << r.Text;
  EXPECT_EQ(s.CACertData, "PEM-1");
  EXPECT_EQ(UserText(kKey, "CACertData"), "PEM-1");
  EXPECT_EQ(m.Read(m.Temp() + "ccc3"), "PEM-1");
  EXPECT_EQ(UserText(kKey, "ProxyHost"), "stored-host");
  EXPECT_EQ(s.ProxyHost, "edited-host");
  EXPECT_EQ(s.tDrivers, 9);
  EXPECT_FALSE(UserDword(kKey, "AutoRun").has_value());

  std::filesystem::remove(m.Temp() + "ccc3");
  r = StoreCACert(s, m.Temp(), "");
  EXPECT_TRUE(r.Ok()) << r.Text;
  EXPECT_EQ(s.CACertData, "PEM-1");
  EXPECT_EQ(UserText(kKey, "CACertData"), "PEM-1");
  EXPECT_EQ(m.Read(m.Temp() + "ccc3"), "PEM-1");

  // Without a temporary folder the value is still stored; the result says why there is no file.
  r = StoreCACert(s, "", "PEM-2");
  EXPECT_EQ(r.Kind, TCertFileKind::NoTempFolder);
  EXPECT_EQ(UserText(kKey, "CACertData"), "PEM-2");
  // Nothing ever fetched: nothing to write, and nothing is wrong.
  TSettings fresh;
  EXPECT_TRUE(StoreCACert(fresh, "", "").Ok());
}

TEST(SettingsTest, StateMembersUseTheirOwnFolderAndName) {
  ScratchMachine m;
  SetUserText(kKey, "CACertData", "X");
  TKorvaneState st;
  st.OwnsSettings = true;  // as the window program's
  st.TempFolder = m.Temp();
  st.ExeName = "/usr/bin/korvane";
  st.LoadSettings();
  EXPECT_EQ(m.Read(m.Temp() + "ccc3"), "X");
  st.SaveSettings();
  EXPECT_EQ(UserText(RunKeyName, "Korvane"), "/usr/bin/korvane -t");
}

TEST(SettingsTest, AStateOutsideTheWindowStoresOnlyTheCheckFigures) {
  ScratchMachine m;
  TKorvaneState st;
  st.TempFolder = m.Temp();
  st.ExeName = "/usr/bin/korvane";
  st.LoadSettings();  // a fresh account: AutoRun and CloseToTray default to true
  st.Settings.LastScan = "12/9/2026 4:05:06 PM";
  st.Settings.IsSysUpdated = true;
  st.Settings.tDrivers = 7;
  st.Settings.udDrivers = 6;
  st.Settings.odDrivers = 1;
  st.Settings.CACertData = "PEM";
  EXPECT_TRUE(st.SaveSettings());
  TSettings back;
  LoadSettings(back, m.Temp());
  EXPECT_EQ(back.LastScan, "12/9/2026 4:05:06 PM");
  EXPECT_TRUE(back.IsSysUpdated);
  EXPECT_EQ(back.tDrivers, 7);
  EXPECT_EQ(back.udDrivers, 6);
  EXPECT_EQ(back.odDrivers, 1);
  EXPECT_EQ(back.CACertData, "PEM");
  EXPECT_FALSE(UserDword(kKey, "AutoRun").has_value());
  EXPECT_FALSE(UserDword(kKey, "CloseToTray").has_value());
  EXPECT_FALSE(UserText(kKey, "ProxyHost").has_value());
  EXPECT_FALSE(UserText(RunKeyName, "Korvane").has_value());
}

}  // namespace
