#include "stub/ui/Utils.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

const char kKey[] = "Software\\SinewrightTests\\Utils";

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(key_);
        RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SinewrightTests");
    }
    void Set(const char* name, DWORD type, const std::string& data) {
        ASSERT_EQ(RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }

    HKEY key_ = nullptr;
};

TEST_F(Registry, EveryTypeReadsBackAsText) {
    const DWORD big = 4000000000u;
    Set("Text", REG_SZ, "Setup owner\0"s);
    Set("Unterminated", REG_SZ, "abc");
    Set("Expand", REG_EXPAND_SZ, "%TEMP%\\x\0"s);
    Set("Number", REG_DWORD, std::string(reinterpret_cast<const char*>(&big), 4));
    Set("Multi", REG_MULTI_SZ, "one\0two\0\0"s);
    Set("MultiEmpty", REG_MULTI_SZ, "\0\0"s);
    Set("Binary", REG_BINARY, "ab\0cd"s);
    Set("Empty", REG_SZ, "\0"s);
    Set("Huge", REG_SZ, std::string(20000, 'h') + '\0');

    const std::string path = "HKEY_CURRENT_USER\\"s + kKey;
    const struct {
        const char* name;
        std::string value;
    } cases[] = {
        {"Text", "Setup owner"},  {"Unterminated", "abc"}, {"Expand", "%TEMP%\\x"},
        {"Number", "4000000000"}, {"Multi", "one<0>two"},  {"MultiEmpty", ""},
        {"Binary", "ab"},         {"Empty", ""},           {"Huge", "default"},
        {"Missing", "default"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utils::ReadRegistryValue(path, c.name, "default"), c.value) << c.name;
    }
}

TEST_F(Registry, RootNamesAndMissingKeys) {
    Set("Text", REG_SZ, "x\0"s);
    for (const std::string root : {"HKCU\\", "hkey_current_user\\", "", "HKXX\\", "  HKCU\\"}) {
        EXPECT_EQ(Utils::ReadRegistryValue(root + kKey + "  ", "Text", "d"), "x") << root;
    }
    EXPECT_EQ(Utils::ReadRegistryValue("HKLM\\"s + kKey, "Text", "d"), "d");
    EXPECT_EQ(Utils::ReadRegistryValue("HKCU\\Software\\NoSuchKeyAnywhere", "Text", "d"), "d");
}

class Ini : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = Utils::TempFolder(true) + "ui_settings_test.ini";
        DeleteFileA(path_.c_str());
    }
    void TearDown() override { DeleteFileA(path_.c_str()); }
    std::string path_;
};

TEST_F(Ini, ValuesRoundTripThroughTheProfileFunctions) {
    EXPECT_TRUE(Utils::WriteIniString(path_, "Directories", "InstallDir", "C:\\Program Files\\S"));
    EXPECT_TRUE(Utils::WriteIniInteger(path_, "AutoUpdate", "ProbeSecondsLast", 9000000000LL));
    EXPECT_TRUE(Utils::WriteIniInteger(path_, "AutoUpdate", "Negative", -5));
    EXPECT_TRUE(Utils::WriteIniString(path_, "AutoUpdate", "Word", "soon"));
    EXPECT_TRUE(Utils::WriteIniString(path_, "AutoUpdate", "Blank", ""));

    EXPECT_EQ(Utils::ReadIniString(path_, "Directories", "InstallDir", "d"),
              "C:\\Program Files\\S");
    EXPECT_EQ(Utils::ReadIniString(path_, "directories", "INSTALLDIR", "d"),
              "C:\\Program Files\\S");
    EXPECT_EQ(Utils::ReadIniString(path_, "Directories", "Missing", "d"), "d");
    EXPECT_EQ(Utils::ReadIniString(path_, "AutoUpdate", "Blank", "d"), "");
    EXPECT_EQ(Utils::ReadIniString(path_, "", "InstallDir", "d"), "d");
    EXPECT_EQ(Utils::ReadIniInteger(path_, "AutoUpdate", "ProbeSecondsLast", 1), 9000000000LL);
    EXPECT_EQ(Utils::ReadIniInteger(path_, "AutoUpdate", "Negative", 1), -5);
    EXPECT_EQ(Utils::ReadIniInteger(path_, "AutoUpdate", "Word", 77), 77);
    EXPECT_EQ(Utils::ReadIniInteger(path_, "AutoUpdate", "Blank", 77), 77);
    EXPECT_EQ(Utils::ReadIniInteger(path_, "AutoUpdate", "Missing", -3000000000LL), -3000000000LL);

    // What the profile functions wrote is a plain INI file.
    char text[256] = {};
    GetPrivateProfileStringA("AutoUpdate", "ProbeSecondsLast", "", text, sizeof text,
                             path_.c_str());
    EXPECT_STREQ(text, "9000000000");
}

TEST_F(Ini, MissingFileGivesDefaults) {
    EXPECT_EQ(Utils::ReadIniString(path_, "MsgBox", "Font", "Tahoma"), "Tahoma");
    EXPECT_EQ(Utils::ReadIniInteger(path_, "MsgBox", "Size", 8), 8);
    EXPECT_FALSE(Utils::WriteIniString("Q:\\no\\such\\folder\\x.ini", "A", "B", "C"));
}

} // namespace
