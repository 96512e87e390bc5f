#include "stub/core/HiddenValue.h"
#include "stub/ui/SUB.h"
#include "tests/tools/SetupFixture.h"
#include "tools/BuilderCommandLine.h"
#include "tools/HiddenValueWriter.h"
#include "tools/LanguageFile.h"

#include <gtest/gtest.h>

#include <sstream>

#ifdef _WIN32
#include <windows.h>
#endif

TEST(HiddenValueWriter, EveryValueDecodesBackWhateverThePadding) {
    const std::string values[] = {"", "T", "0123456789abcdef", std::string(200, 'z'),
                                  std::string("\0\x01|\xFF bytes", 10)};
    // Random draws at both ends of their ranges, and the process's own random engine.
    const std::function<unsigned(unsigned)> draws[] = {
        [](unsigned) { return 0u; },
        [](unsigned limit) { return limit - 1; },
    };
    for (const std::string& value : values) {
        for (const auto& draw : draws) {
            EXPECT_EQ(DecodeHiddenValue(EncodeHiddenValue(value, draw)), value);
        }
        std::string decoded;
        const std::string text = EncodeHiddenValue(value);
        EXPECT_TRUE(TryDecodeHiddenValue(text, decoded));
        EXPECT_EQ(decoded, value);
        EXPECT_EQ(text.find_first_not_of("bcdefghijkstuvwx"), std::string::npos) << text;
    }
    // Equal tokens are stored differently each time.
    EXPECT_NE(EncodeHiddenValue("token"), EncodeHiddenValue("token"));
}

TEST(LanguageFile, SectionsBecomeEntriesOfTheLanguageBlock) {
    std::string block;
    std::string error;
    ASSERT_TRUE(BuildLanguageBlock("# comment\n\n[ English ]\ns0=Setup | Sample\r\n"
                                   "  s1 =  spaced\n[Chinese(Simplified)]\nFontName=SimSun\n",
                                   block, error))
        << error;
    EXPECT_EQ(block, "\x02\x01"
                     "English\x01s0=Setup | Sample\x01s1=  spaced\x01\x02"
                     "\x01"
                     "Chinese(Simplified)\x01"
                     "FontName=SimSun\x01\x02");
    EXPECT_EQ(SUB::FieldCount(block), 2);

    ASSERT_TRUE(BuildLanguageBlock("; nothing\n", block, error));
    EXPECT_EQ(block, "");
}

TEST(LanguageFile, ErrorsNameTheLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"s0=x\n", "line 1: key=value before the first [Language]"},
        {"[English]\njust text\n", "line 2: expected [Language] or key=value"},
        {"[English]\n=value\n", "line 2: expected [Language] or key=value"},
        {"[English]\n[ ]\n", "line 2: a language needs a name"},
        {"[English]\ns0=a\x02"
         "b\n",
         "line 2: bytes 0x00 to 0x02"},
    };
    for (const auto& [text, message] : cases) {
        std::string block;
        std::string error;
        EXPECT_FALSE(BuildLanguageBlock(text, block, error));
        EXPECT_EQ(error.rfind(message, 0), 0u) << error;
    }
}

TEST(CommandLine, BuildsFromArgumentsAndRejectsBadOnes) {
    SetupFolder folder("cli");
    folder.Write("stub.exe", "stub");
    std::string engine(40000, '\0');
    for (size_t i = 0; i < engine.size(); ++i) {
        engine[i] = static_cast<char>(i * i * 2654435761u >> 13); // hardly compressible
    }
    folder.AddFile("Engine.exe", engine);
    const std::vector<std::string> build = {"--stub",          folder.Path("stub.exe"),
                                            "--files",         folder.Path("files"),
                                            "--engine",        "Engine.exe",
                                            "--engine-params", "/quiet",
                                            "--output",        folder.Path("setup.exe"),
                                            "--volume-size",   "16K",
                                            "--split-size",    "64k",
                                            "--level",         "1",
                                            "--activity-bar",  "--agent-name",
                                            "Agent.exe",       "--background"};
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(RunPackageBuilder(build, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("setup.exe.002"), std::string::npos);
    const TGFileInfo info(folder.Path("setup.exe"));
    EXPECT_TRUE(info.ShowActivityBar());
    EXPECT_TRUE(info.MultiVolume());
    EXPECT_TRUE(info.HasAgent());
    EXPECT_TRUE(info.BackgroundInstall());
    EXPECT_LE(fs::file_size(folder.Path("setup.exe")), 16u * 1024);

    const std::pair<std::vector<std::string>, std::string> wrong[] = {
        {{}, "Usage:"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"--stub"}, "--stub needs a value"},
        {{"--volume-size", "12X"}, "bad value for --volume-size: 12X"},
        {{"--volume-size", "-5"}, "bad value for --volume-size: -5"},
        {{"--level", "10"}, "bad value for --level: 10"},
        {{"--stub", "s.exe"}, "the stub, the files folder, the setup engine and the output"},
    };
    for (const auto& [args, message] : wrong) {
        std::ostringstream none;
        std::ostringstream complaint;
        EXPECT_EQ(RunPackageBuilder(args, none, complaint), 2) << message;
        EXPECT_NE(complaint.str().find(message), std::string::npos) << complaint.str();
    }

    std::ostringstream help;
    EXPECT_EQ(RunPackageBuilder({"--help"}, help, err), 0);
    EXPECT_NE(help.str().find("--download-stub FILE"), std::string::npos);

    std::ostringstream failed;
    EXPECT_EQ(
        RunPackageBuilder({"--stub", folder.Path("missing.exe"), "--files", folder.Path("files"),
                           "--engine", "Engine.exe", "--output", folder.Path("x.exe")},
                          out, failed),
        1);
    EXPECT_NE(failed.str().find("cannot read the stub"), std::string::npos);
}

#ifdef _WIN32
// A real linker-made program keeps running once its headers moved and a package follows it.
TEST(RealStub, APackagedProgramStillRuns) {
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    SetupFolder folder("real");
    folder.Write("stub.exe", SetupFolder::Read(self));
    folder.AddFile("Engine.exe", "engine");
    SetupOptions options = folder.Options();
    options.engine = "Engine.exe";
    SetupReport report;
    std::string error;
    ASSERT_TRUE(BuildSetup(options, report, error)) << error;
    ASSERT_TRUE(IsExecutable(options.output));
    ASSERT_TRUE(TGFileInfo(options.output).Trailer().HasMagic());

    std::string command = "\"" + options.output + "\" --gtest_filter=NoSuchTest";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &process));
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(code, 0u);
}
#endif
