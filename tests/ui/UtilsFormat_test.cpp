#include "stub/ui/UtilsFormat.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Utils::DateTime;

TEST(Formats, Dates) {
    const DateTime t = DateTime{2012, 1, 5, 7, 8, 9};
    EXPECT_EQ(Utils::FormatLongDate(t, false), "05-JAN-2012");
    EXPECT_EQ(Utils::FormatLongDate(DateTime{2009, 12, 31, 23, 59, 58}, true),
              "31-DEC-2009 23:59:58");
    EXPECT_EQ(Utils::FormatShortDateTime(t, false), "05/01/12 07:08:09");
    EXPECT_EQ(Utils::FormatShortDateTime(t, true), "05/01/2012 07:08:09");
    EXPECT_EQ(Utils::FormatShortDateTime(t, false, '.', '-'), "05.01.12 07-08-09");
}

TEST(Formats, Megabytes) {
    const struct {
        long long bytes;
        const char* text;
    } cases[] = {
        {-5, "0.000"},          {0, "0.000"},        {524288, "0.500"},
        {1048576, "1.00"},      {10485760, "10.00"}, {10485761, "10.0"},
        {1572864000, "1500.0"}, {1048575, "1.000"}, // just below 1 MB, rounded
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utils::FormatMegabytes(c.bytes), c.text) << c.bytes;
    }
}

TEST(Formats, Sizes) {
    EXPECT_EQ(Utils::FormatSize(1, 1024, 0, false), "1");
    EXPECT_EQ(Utils::FormatSize(1024, 1024, 0, false), "1");
    EXPECT_EQ(Utils::FormatSize(1025, 1024, 0, false), "2");
    EXPECT_EQ(Utils::FormatSize(0, 1024, 0, false), "0");
    EXPECT_EQ(Utils::FormatSize(1536, 1024, 1, false), "1.5");
    EXPECT_EQ(Utils::FormatSize(1234567890, 1024, 1, true), "1,205,632.7");
    EXPECT_EQ(Utils::FormatSize(1234567890, 1048576, 0, true), "1,178");
    EXPECT_EQ(Utils::FormatSize(999 * 1024, 1024, 1, true), "999.0");
}

TEST(Formats, Version) {
    EXPECT_EQ(Utils::FormatVersion(0x00020005, 0x0007000B), "2.5.7.11");
}

TEST(AgentLog, PathAndLine) {
    EXPECT_EQ(Utils::AgentLogPathFor("C:\\Prog\\Setup.exe"), "C:\\Prog\\X_Setup.log");
    EXPECT_EQ(Utils::AgentLogPathFor("C:\\Prog\\X_Setup.exe"), "C:\\Prog\\X_Setup.log");
    EXPECT_EQ(Utils::AgentLogPathFor("C:\\Prog\\x_Setup.exe"), "C:\\Prog\\X_x_Setup.log");
    EXPECT_EQ(Utils::AgentLogPathFor("C:\\Pro.g\\update"), "C:\\Pro.g\\X_update.log");
    EXPECT_EQ(Utils::AgentLogLine(DateTime{2012, 1, 5, 7, 8, 9}, '/', ':', 42, " X ", "hello"),
              "05/01/12 07:08:09    42 X hello\r\n");
    EXPECT_EQ(Utils::AgentLogLine(DateTime{2012, 1, 5, 7, 8, 9}, '/', ':', 123456, "   ", ""),
              "05/01/12 07:08:09 123456   \r\n");
}

TEST(RegistryPath, Roots) {
    using R = Utils::RegistryRoot;
    const struct {
        const char* path;
        R root;
        const char* subkey;
    } cases[] = {
        {"HKEY_LOCAL_MACHINE\\Software\\A", R::LocalMachine, "Software\\A"},
        {"hklm\\Software", R::LocalMachine, "Software"},
        {"  HKCR\\.txt ", R::ClassesRoot, ".txt"},
        {"HKU", R::Users, ""},
        {"hkey_current_config\\x", R::CurrentConfig, "x"},
        {"HKDD\\y", R::DynData, "y"},
        {"HKEY_CURRENT_USER\\Software", R::CurrentUser, "Software"},
        {"HKXX\\Software", R::CurrentUser, "Software"},
        {"Software\\Korrin", R::CurrentUser, "Software\\Korrin"},
    };
    for (const auto& c : cases) {
        R root = R::Users;
        std::string subkey = "?";
        Utils::SplitRegistryPath(c.path, root, subkey);
        EXPECT_EQ(root, c.root) << c.path;
        EXPECT_EQ(subkey, c.subkey) << c.path;
    }
}

// Byte 0x81 opens a double-byte character, as in the East Asian code pages.
bool LeadByte(unsigned char c) {
    return c == 0x81;
}

TEST(Paths, TrailingBackslash) {
    EXPECT_EQ(Utils::RemoveTrailingBackslash("C:\\Temp\\", LeadByte), "C:\\Temp");
    EXPECT_EQ(Utils::RemoveTrailingBackslash("C:\\Temp", LeadByte), "C:\\Temp");
    EXPECT_EQ(Utils::RemoveTrailingBackslash("\\", LeadByte), "");
    EXPECT_EQ(Utils::RemoveTrailingBackslash("C:\\a\x81\\", LeadByte), "C:\\a\x81\\");
    EXPECT_EQ(Utils::RemoveTrailingBackslash("C:\\a\x81x\\", LeadByte), "C:\\a\x81x");
    EXPECT_EQ(Utils::RemoveTrailingBackslash("C:\\a\x81\\", nullptr), "C:\\a\x81");
    EXPECT_EQ(Utils::AddTrailingBackslash("C:\\Temp", LeadByte), "C:\\Temp\\");
    EXPECT_EQ(Utils::AddTrailingBackslash("C:\\Temp\\", LeadByte), "C:\\Temp\\");
    EXPECT_EQ(Utils::AddTrailingBackslash("C:\\a\x81\\", LeadByte), "C:\\a\x81\\\\");
}

TEST(Paths, Parts) {
    EXPECT_EQ(Utils::FolderOfPath("C:\\Prog\\setup.tar.exe"), "C:\\Prog");
    EXPECT_EQ(Utils::FileNameOfPath("C:\\Prog\\setup.tar.exe"), "setup.tar.exe");
    EXPECT_EQ(Utils::NameWithoutExtension("C:\\Prog\\setup.tar.exe", false), "setup.tar");
    EXPECT_EQ(Utils::NameWithoutExtension("C:\\Prog\\setup.tar.exe", true), "setup");
    EXPECT_EQ(Utils::NameWithoutExtension("C:\\P.d\\setup", true), "setup");
}

} // namespace
