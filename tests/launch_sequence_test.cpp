// The launch sequence over real packages and directories, with the process services recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "launcher.h"
#include "payload_writer.h"
#include "recording_process.h"
#include "startup.h"
#include "test_support.h"

namespace {

using testing_support::Bytes;
namespace fs = std::filesystem;

const Bytes SCRIPT = testing_support::TextContent(3000, 21);
const Bytes ENGINE = testing_support::RandomContent(5000, 22);

struct Package {
    EngineVersion version{3, 2, 0, 0};
    std::string scriptName = "RUN.COD";
    bool withScript = true;
    bool withEngine = true;
};

class LaunchSequenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(sys_);
        fs::create_directory(tmp_);
        settings_.watched = {sys_, tmp_};
        g_modulePath = program_.string();
        g_systemDir = sys_.string();
        g_tempDir = tmp_.string();
        g_commandTail = "a b";
    }

    void Write(const Package& p) {
        PayloadHeader header;
        header.engineVersion = p.version;
        std::vector<PayloadRecord> records;
        if (p.withScript) {
            records.push_back({"SCRIPT.COD", 1600000000, SCRIPT});
        }
        if (p.withEngine) {
            records.push_back({"IVENGINE.DLL", 1600000000, ENGINE});
        }
        auto bytes = BuildPackage(Bytes(512, 0x4D), header, records);
        ASSERT_TRUE(bytes.has_value());
        // The writer refuses names without a NUL; the launcher must cope with them anyway.
        auto name = bytes->end() - static_cast<std::ptrdiff_t>(SCRIPT_NAME_FIELD_SIZE);
        std::fill(name, bytes->end(), 0);
        std::copy_n(p.scriptName.begin(), std::min(p.scriptName.size(), SCRIPT_NAME_FIELD_SIZE),
                    name);
        testing_support::WriteFileBytes(program_, *bytes);
    }

    std::int32_t Run() {
        recording::Reset(settings_);
        return RunLauncher();
    }

    const std::vector<std::string>& Events() const { return recording::Recorder().events; }

    std::string ScriptPath() const { return (tmp_ / "run0" / "RUN.COD").string(); }

    bool TempIsEmpty() const { return fs::is_empty(tmp_); }

    testing_support::ScratchDir root_;
    fs::path sys_ = root_ / "sys";
    fs::path tmp_ = root_ / "tmp";
    fs::path program_ = root_ / "prog.exe";
    recording::Settings settings_;
};

TEST_F(LaunchSequenceTest, NormalRunInstallsCallsCleansUpAndReturnsTheEngineResult) {
    Write({});
    settings_.engine.result = 7;
    EXPECT_EQ(Run(), 7);
    const std::vector<std::string> expected = {
        "exclude current directory",
        "load IVENGINE.DLL",
        "find RunIlvarcCodeEXE",
        "find RunIlvarcCode",
        "call RunIlvarcCodeEXE [\"" + ScriptPath() + "\" a b] null [" + program_.string() + "]",
        "delete RUN.COD",
        "rmdir",
        "unload",
    };
    EXPECT_EQ(Events(), expected);
    EXPECT_EQ(testing_support::ReadFileBytes(sys_ / "IVENGINE.DLL"), ENGINE);
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(LaunchSequenceTest, EntriesAndArguments) {
    struct Case {
        const char* what;
        bool exe, plain;
        std::string tail;
        std::int32_t engineResult;
        std::string expectedCall;  // with @ for the quoted script path
        std::int32_t expectedResult;
    };
    const std::string launcher = program_.string();
    const Case cases[] = {
        {"both entries", true, true, "x", -1, "call RunIlvarcCodeEXE [@ x] null [" + launcher + "]",
         -1},
        {"only the fallback", false, true, "x", 0x7FFFFFFF, "call RunIlvarcCode [@ x] null",
         0x7FFFFFFF},
        {"no arguments", true, false, "", 0, "call RunIlvarcCodeEXE [@ ] null [" + launcher + "]",
         0},
        {"quotes, tabs and blanks unchanged", true, true, "\"a  b\"\t c \" ", INT32_MIN,
         "call RunIlvarcCodeEXE [@ \"a  b\"\t c \" ] null [" + launcher + "]", INT32_MIN},
    };
    Write({});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        settings_.engine = {c.exe, c.plain, c.engineResult};
        g_commandTail = c.tail;
        EXPECT_EQ(Run(), c.expectedResult);
        std::string call = c.expectedCall;
        call.replace(call.find('@'), 1, "\"" + ScriptPath() + "\"");
        ASSERT_GE(Events().size(), 5u);
        EXPECT_EQ(Events()[4], call);
        EXPECT_TRUE(TempIsEmpty());
    }
}

TEST_F(LaunchSequenceTest, FailuresShowTheirMessageThenCleanUp) {
    const std::string box = "box Error 16 ";
    struct Case {
        const char* what;
        Package package;
        bool plainFile;  // the launcher's file carries no payload at all
        bool loadFails;
        recording::Engine engine;
        std::vector<std::string> expected;  // @ stands for the script's relative path
        std::int32_t result;
        bool engineInstalled;
    };
    const Case cases[] = {
        {"no payload",
         {},
         true,
         false,
         {},
         {box + "[EXE is not an Ilvarc script!] loaded=no files:"},
         -1,
         false},
        {"install needed but no engine record",
         {{3, 2, 0, 0}, "RUN.COD", true, false},
         false,
         false,
         {},
         {box + "[Could not install engine!] loaded=no files:"},
         -1,
         false},
        {"no script record",
         {{3, 2, 0, 0}, "RUN.COD", false, true},
         false,
         false,
         {},
         {box + "[EXE does not contain script code!] loaded=no files: sys/IVENGINE.DLL", "rmdir"},
         -1,
         true},
        {"engine cannot be loaded",
         {},
         false,
         true,
         {},
         {"exclude current directory", "load IVENGINE.DLL",
          box + "[Could not load engine!] loaded=no files: sys/IVENGINE.DLL @", "delete RUN.COD",
          "rmdir"},
         -1,
         true},
        {"engine exports neither entry",
         {},
         false,
         false,
         {false, false, 5},
         {"exclude current directory", "load IVENGINE.DLL", "find RunIlvarcCodeEXE",
          "find RunIlvarcCode",
          box + "[Error loading engine!] loaded=yes files: sys/IVENGINE.DLL @", "delete RUN.COD",
          "rmdir", "unload"},
         0,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(sys_);
        fs::create_directory(sys_);
        if (c.plainFile) {
            testing_support::WriteFileBytes(program_, Bytes(4000, 0x4D));
        } else {
            Write(c.package);
        }
        settings_.loadFails = c.loadFails;
        settings_.engine = c.engine;
        EXPECT_EQ(Run(), c.result);
        std::vector<std::string> expected = c.expected;
        for (auto& e : expected) {
            const auto at = e.find('@');
            if (at != std::string::npos) {
                e.replace(at, 1, (fs::path("tmp") / "run0" / "RUN.COD").string());
            }
        }
        EXPECT_EQ(Events(), expected);
        EXPECT_EQ(fs::exists(sys_ / "IVENGINE.DLL"), c.engineInstalled);
        EXPECT_TRUE(TempIsEmpty());
    }
}

TEST_F(LaunchSequenceTest, InstallDecisionWithoutAnInstalledEngine) {
    // Nothing installed reads as 0.0.0.0: any other header version installs, 0.0.0.0 never does.
    for (const EngineVersion version : {EngineVersion{0, 0, 0, 1}, EngineVersion{0, 0, 0, 0}}) {
        SCOPED_TRACE(version.fourth);
        fs::remove_all(sys_);
        fs::create_directory(sys_);
        Write({version, "RUN.COD", true, true});
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(fs::exists(sys_ / "IVENGINE.DLL"), version.fourth == 1);
    }
}

TEST_F(LaunchSequenceTest, ScriptNamesThatAreNoPlainFileNameWriteNothing) {
    const std::string names[] = {"",    ".",         "..",          "a\\b",
                                 "a/b", "C:RUN.COD", "..\\RUN.COD", std::string(256, 'N')};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Write({{0, 0, 0, 0}, name, true, true});
        EXPECT_EQ(Run(), -1);
        const std::vector<std::string> expected = {
            "box Error 16 [EXE does not contain script code!] loaded=no files:"};
        EXPECT_EQ(Events(), expected);
        EXPECT_TRUE(TempIsEmpty());
    }
}

TEST_F(LaunchSequenceTest, StartUpFillsThePathsAndReturnsTheRunResult) {
    Write({{0, 0, 0, 0}, "RUN.COD", true, false});
    settings_.modulePath = program_.string() + "\\";
    settings_.moduleResult = static_cast<std::uint32_t>(settings_.modulePath.size());
    settings_.tempPath = tmp_.string() + "\\\\";
    settings_.tempResult = static_cast<std::uint32_t>(settings_.tempPath.size());
    settings_.systemDir = sys_.string();
    settings_.systemResult = static_cast<std::uint32_t>(settings_.systemDir.size());
    settings_.commandLine = "\"C:\\Program Files\\prog.exe\"  one \"two\"  ";
    settings_.engine.result = 42;
    recording::Reset(settings_);
    // The module path keeps its backslash, so it names no file here: no payload.
    EXPECT_EQ(StartLauncher(nullptr), -1);
    EXPECT_EQ(g_modulePath, program_.string() + "\\");
    EXPECT_EQ(g_tempDir, tmp_.string());
    EXPECT_EQ(g_systemDir, sys_.string());
    EXPECT_EQ(g_commandTail, "one \"two\"  ");

    settings_.modulePath = program_.string();
    settings_.moduleResult = static_cast<std::uint32_t>(settings_.modulePath.size());
    recording::Reset(settings_);
    EXPECT_EQ(StartLauncher(nullptr), 42);
}

TEST_F(LaunchSequenceTest, FailedOrOverlongQueriesGiveEmptyStrings) {
    settings_.modulePath = "C:\\partial";
    settings_.moduleResult = 260;  // did not fit
    settings_.tempPath = "C:\\stale";
    settings_.tempResult = 0;  // failed
    settings_.systemDir = "C:\\\\";
    settings_.systemResult = 4;
    recording::Reset(settings_);
    EXPECT_EQ(StartLauncher(nullptr), -1);
    EXPECT_EQ(g_modulePath, "");
    EXPECT_EQ(g_tempDir, "");
    EXPECT_EQ(g_systemDir, "C:");
}

TEST_F(LaunchSequenceTest, OutOfMemoryIsReportedOnce) {
    Write({{0, 0, 0, 0}, "RUN.COD", true, false});
    settings_.modulePath = program_.string();
    settings_.moduleResult = static_cast<std::uint32_t>(settings_.modulePath.size());
    settings_.tempPath = tmp_.string();
    settings_.tempResult = static_cast<std::uint32_t>(settings_.tempPath.size());
    settings_.loadThrowsBadAlloc = true;
    recording::Reset(settings_);
    EXPECT_EQ(StartLauncher(nullptr), -1);
    ASSERT_FALSE(Events().empty());
    EXPECT_EQ(Events().back().substr(0, 32), "box Error 16 [Out of memory!] lo");
}

}  // namespace
