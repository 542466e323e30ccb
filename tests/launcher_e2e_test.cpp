// The shipped launcher end to end: packaged with ivpack, started with exact command lines, its
// error boxes answered, the engine in the system directory set up per case.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "packaged_run.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Bytes;

const std::string BIN_DIR = ILVARC_BIN_DIR;
const std::string LAUNCHER = BIN_DIR + "\\ivlaunch.exe";
const std::string IVPACK = BIN_DIR + "\\ivpack.exe";

std::string Engine(const std::string& variant) {
    return BIN_DIR + "\\engines\\" + variant + "\\IVENGINE.DLL";
}

std::string SystemDir() {
    char buffer[MAX_PATH] = {};
    GetSystemDirectoryA(buffer, MAX_PATH);
    return buffer;
}

std::string TempDir() {
    char buffer[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, buffer);
    std::string dir = buffer;
    while (!dir.empty() && dir.back() == '\\') {
        dir.pop_back();
    }
    return dir;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

// The engine's report: key=value lines, values hex-encoded except entry and reserved.
std::map<std::string, std::string> ReadReport(const std::string& path) {
    std::map<std::string, std::string> report;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        const bool plain = key == "entry" || key == "reserved" || value == "none";
        report[key] = plain ? value : Unhex(value);
    }
    return report;
}

// Runs a console program in this prefix and returns its exit code.
DWORD RunConsole(const std::string& commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return 0xFFFFFFFF;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

std::string Quote(const std::string& path) {
    return "\"" + path + "\"";
}

struct PackOptions {
    std::string script = "exit 0";
    std::string scriptName = "RUN.COD";
    std::string engine = "default";  // empty: no engine record
    std::string engineVersion;       // empty: the engine's own
};

PackOptions Options(std::string script, std::string scriptName = "RUN.COD",
                    std::string engine = "default", std::string engineVersion = "") {
    return PackOptions{std::move(script), std::move(scriptName), std::move(engine),
                       std::move(engineVersion)};
}

class LauncherEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        SetInstalledEngine("");
        tempBefore_ = ListFilesUnder(temp_);
    }
    void TearDown() override { SetInstalledEngine(""); }

    // The engine file in the system directory: a variant, "text", or "" for none.
    void SetInstalledEngine(const std::string& variant) {
        const std::string installed = sys_ + "\\IVENGINE.DLL";
        SetFileAttributesA(installed.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(installed.c_str());
        if (variant == "text") {
            testing_support::WriteFileBytes(installed, Bytes{'n', 'o', ' ', 'P', 'E', '\n'});
        } else if (!variant.empty()) {
            ASSERT_TRUE(CopyFileA(Engine(variant).c_str(), installed.c_str(), FALSE));
        }
    }

    Bytes InstalledEngine() const {
        return testing_support::ReadFileBytes(sys_ + "\\IVENGINE.DLL");
    }

    std::string Pack(const PackOptions& options, const std::string& name = "prog.exe") {
        const std::string script = (dir_ / (name + ".src")).string();
        std::ofstream(script, std::ios::binary) << options.script << "\n";
        const std::string out = (dir_ / name).string();
        std::string command = Quote(IVPACK) + " build -o " + Quote(out) + " --launcher " +
                              Quote(LAUNCHER) + " --script " + Quote(script) + " --script-name " +
                              Quote(options.scriptName);
        if (!options.engine.empty()) {
            command += " --engine " + Quote(Engine(options.engine));
        }
        if (!options.engineVersion.empty()) {
            command += " --engine-version " + options.engineVersion;
        }
        EXPECT_EQ(RunConsole(command), 0u) << command;
        return out;
    }

    PackagedRun Run(const std::string& program, const std::string& arguments = "") {
        RunOptions options;
        options.watchedDirs = {temp_};
        options.watchedFiles = {sys_ + "\\IVENGINE.DLL"};
        return RunPackaged(Quote(program) + (arguments.empty() ? "" : " " + arguments), options);
    }

    // Files in the temp directory that a run left, beyond what was there before.
    std::vector<std::string> NewTempFiles(const std::vector<std::string>& files) const {
        std::vector<std::string> fresh;
        std::set_difference(files.begin(), files.end(), tempBefore_.begin(), tempBefore_.end(),
                            std::back_inserter(fresh));
        return fresh;
    }

    bool TempDirsLeft() const {
        for (const auto& entry : fs::directory_iterator(temp_)) {
            if (entry.is_directory() && entry.path().filename().string().rfind("IVR", 0) == 0) {
                return true;
            }
        }
        return false;
    }

    std::string Report() const { return (dir_ / "report.txt").string(); }

    // Outside the temp directory, whose contents the tests compare.
    testing_support::ScratchDir dir_{"C:\\"};
    std::string sys_ = SystemDir();
    std::string temp_ = TempDir();
    std::vector<std::string> tempBefore_;
};

TEST_F(LauncherEndToEnd, FailureTable) {
    const std::string noPayload = (dir_ / "plain.exe").string();
    ASSERT_TRUE(CopyFileA(LAUNCHER.c_str(), noPayload.c_str(), FALSE));
    struct Case {
        const char* what;
        std::string program;
        std::string installed;
        std::string message;
        std::uint32_t exitCode;
        bool scriptWhileBoxOpen;
    };
    const Case cases[] = {
        {"no payload", noPayload, "", "EXE is not an Ilvarc script!", 0xFFFFFFFF, false},
        {"engine needed but not in the payload",
         Pack(Options("exit 0", "RUN.COD", "", "3.2.0.1"), "noengine.exe"), "default",
         "Could not install engine!", 0xFFFFFFFF, false},
        {"no script record", (dir_ / "noscript.exe").string(), "",
         "EXE does not contain script code!", 0xFFFFFFFF, false},
        {"engine cannot be loaded", Pack(Options("exit 0", "RUN.COD", "", "0.0.0.0"), "noload.exe"),
         "", "Could not load engine!", 0xFFFFFFFF, true},
        {"engine without entries",
         Pack(Options("exit 9", "RUN.COD", "no-entries"), "noentries.exe"), "",
         "Error loading engine!", 0, true},
    };
    {
        // ivpack always writes a script record; rename it so that none is called SCRIPT.COD.
        const std::string src = (dir_ / "engine-only.src").string();
        std::ofstream(src) << "x";
        const std::string command = Quote(IVPACK) + " build -o " + Quote(cases[2].program) +
                                    " --launcher " + Quote(LAUNCHER) + " --script " + Quote(src) +
                                    " --engine " + Quote(Engine("default"));
        ASSERT_EQ(RunConsole(command), 0u);
        Bytes bytes = testing_support::ReadFileBytes(cases[2].program);
        const std::string needle = "SCRIPT.COD";
        // The last one: the launcher's own code holds the name too.
        auto at = std::find_end(bytes.begin(), bytes.end(), needle.begin(), needle.end());
        ASSERT_NE(at, bytes.end());
        *at = 'X';
        testing_support::WriteFileBytes(cases[2].program, bytes);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetInstalledEngine(c.installed);
        const Bytes installedBefore = c.installed.empty() ? Bytes{} : InstalledEngine();
        const PackagedRun run = Run(c.program);
        ASSERT_TRUE(run.started);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.boxes, 1);
        EXPECT_EQ(run.title, "Error");
        EXPECT_EQ(run.text, c.message);
        EXPECT_TRUE(run.hasIcon);
        EXPECT_EQ(run.exitCode, c.exitCode);
        const auto whileOpen = NewTempFiles(run.filesWhileBoxOpen);
        if (c.scriptWhileBoxOpen) {
            ASSERT_EQ(whileOpen.size(), 1u);
            EXPECT_EQ(fs::path(whileOpen[0]).filename().string(), "RUN.COD");
        } else {
            EXPECT_TRUE(whileOpen.empty());
        }
        EXPECT_TRUE(NewTempFiles(ListFilesUnder(temp_)).empty());
        EXPECT_FALSE(TempDirsLeft());
        if (!c.installed.empty()) {
            EXPECT_EQ(InstalledEngine(), installedBefore);
        }
    }
}

TEST_F(LauncherEndToEnd, InstallDecisionOverRealFileVersions) {
    struct Case {
        const char* what;
        std::string installed;  // variant, "text" or ""
        std::string packed;     // variant carried in the payload
        std::string headerVersion;
        bool replaced;
    };
    const Case cases[] = {
        {"equal", "default", "v3.2.0.1", "3.2.0.0", false},
        {"equal file version, newer product version", "product-newer", "default", "", false},
        {"older", "default", "v3.2.0.1", "", true},
        {"older in the minor part", "v3.1.65535.65535", "default", "", true},
        {"older file version, newer product version", "product-newer-file-older", "default", "",
         true},
        {"newer", "v3.3.0.0", "default", "", false},
        {"newer in the major part", "v4.0.0.0", "default", "", false},
        {"parts are unsigned", "v32767.65535.65535.65535", "v32768.0.0.0", "", true},
        {"missing", "", "default", "", true},
        {"a text file named IVENGINE.DLL", "text", "default", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetInstalledEngine(c.installed);
        const std::string program = Pack(Options("exit 3", "RUN.COD", c.packed, c.headerVersion));
        const Bytes before = c.installed.empty() ? Bytes{} : InstalledEngine();
        const PackagedRun run = Run(program);
        EXPECT_EQ(run.boxes, 0) << run.text;
        EXPECT_EQ(run.exitCode, 3u);
        const Bytes after = InstalledEngine();
        if (c.replaced) {
            EXPECT_EQ(after, testing_support::ReadFileBytes(Engine(c.packed)));
        } else {
            EXPECT_EQ(after, before);
        }
    }
}

TEST_F(LauncherEndToEnd, HeaderVersionZeroNeverInstalls) {
    const PackagedRun run = Run(Pack(Options("exit 3", "RUN.COD", "default", "0.0.0.0")));
    EXPECT_EQ(run.text, "Could not load engine!");
    EXPECT_EQ(run.exitCode, 0xFFFFFFFFu);
    EXPECT_FALSE(fs::exists(sys_ + "\\IVENGINE.DLL"));
}

TEST_F(LauncherEndToEnd, EntriesAndArgumentsReachTheEngineByteForByte) {
    struct Case {
        const char* what;
        std::string engine;
        std::string arguments;  // appended to the quoted program path
        std::string tail;       // what the engine must receive behind the script path
        std::string entry;
    };
    const Case cases[] = {
        {"both entries", "default", "a b", "a b", "RunIlvarcCodeEXE"},
        {"only the fallback", "only-runilvarccode", "a b", "a b", "RunIlvarcCode"},
        {"no arguments", "default", "", "", "RunIlvarcCodeEXE"},
        {"quotes, tabs and runs of blanks", "default", "  \"x  y\"\t z  \"\" \\\"q  ",
         "\"x  y\"\t z  \"\" \\\"q  ", "RunIlvarcCodeEXE"},
        {"bytes above 0x7F", "default", "\xE9t\xE9 \xFF", "\xE9t\xE9 \xFF", "RunIlvarcCodeEXE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetInstalledEngine("");
        const std::string program =
            Pack(Options("report " + Report() + "\nexit 1", "RUN.COD", c.engine));
        const PackagedRun run = Run(program, c.arguments);
        EXPECT_EQ(run.boxes, 0) << run.text;
        EXPECT_EQ(run.exitCode, 1u);
        auto report = ReadReport(Report());
        EXPECT_EQ(report["entry"], c.entry);
        EXPECT_EQ(report["reserved"], "null");
        const std::string script = report["script"];
        EXPECT_EQ(report["command"], "\"" + script + "\" " + c.tail);
        EXPECT_EQ(fs::path(script).filename().string(), "RUN.COD");
        EXPECT_EQ(fs::path(script).parent_path().parent_path().string(), temp_);
        EXPECT_EQ(report["launcher"], c.entry == "RunIlvarcCodeEXE" ? program : "none");
        EXPECT_FALSE(fs::exists(script));
        EXPECT_FALSE(TempDirsLeft());
        DeleteFileA(Report().c_str());
    }
}

TEST_F(LauncherEndToEnd, EntryResultsBecomeTheExitCode) {
    struct Case {
        std::string value;
        std::uint32_t exitCode;
    };
    const Case cases[] = {
        {"-1", 0xFFFFFFFF},         {"0", 0}, {"7", 7}, {"0x7FFFFFFF", 0x7FFFFFFF},
        {"0x80000000", 0x80000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const PackagedRun run = Run(Pack(Options("exit " + c.value)));
        EXPECT_EQ(run.boxes, 0);
        EXPECT_EQ(run.exitCode, c.exitCode);
    }
}

TEST_F(LauncherEndToEnd, RunsFromAPathWithBlanksAndAnotherCurrentDirectory) {
    const fs::path folder = dir_ / "with some blanks";
    fs::create_directory(folder);
    const fs::path elsewhere = dir_ / "elsewhere";
    fs::create_directory(elsewhere);
    const std::string program = Pack(Options("report " + Report() + "\nexit 4"));
    const std::string moved = (folder / "my prog.exe").string();
    ASSERT_TRUE(CopyFileA(program.c_str(), moved.c_str(), FALSE));
    RunOptions options;
    options.currentDir = elsewhere.string();
    const PackagedRun run = RunPackaged(Quote(moved) + " x", options);
    EXPECT_EQ(run.boxes, 0) << run.text;
    EXPECT_EQ(run.exitCode, 4u);
    EXPECT_EQ(ReadReport(Report())["launcher"], moved);
}

// Each run has a directory of its own, so runs at once never share a script file.
TEST_F(LauncherEndToEnd, ConcurrentRunsKeepTheirOwnScripts) {
    SetInstalledEngine("default");
    const std::string first = Pack(Options("hold 1500\nexit 5", "SAME.COD"), "first.exe");
    const std::string second = Pack(Options("hold 1500\nexit 6", "SAME.COD"), "second.exe");
    std::vector<std::string> programs(8, first);
    programs.push_back(second);
    std::vector<PackagedRun> runs(programs.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < programs.size(); ++i) {
        threads.emplace_back([&, i] { runs[i] = RunPackaged(Quote(programs[i])); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (std::size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(runs[i].boxes, 0) << runs[i].text;
        EXPECT_EQ(runs[i].exitCode, programs[i] == first ? 5u : 6u);
    }
    EXPECT_FALSE(TempDirsLeft());
    EXPECT_TRUE(NewTempFiles(ListFilesUnder(temp_)).empty());
}

TEST_F(LauncherEndToEnd, ScriptNamesThatAreNoPlainFileName) {
    for (const std::string name : {"..\\RUN.COD", "sub/RUN.COD", "C:RUN.COD", ".."}) {
        SCOPED_TRACE(name);
        // ivpack refuses such names, so patch a packaged name in place.
        const std::string program = Pack(Options("exit 0", std::string(name.size(), 'A')));
        Bytes bytes = testing_support::ReadFileBytes(program);
        std::copy(name.begin(), name.end(), bytes.end() - 256);
        testing_support::WriteFileBytes(program, bytes);
        const PackagedRun run = Run(program);
        EXPECT_EQ(run.text, "EXE does not contain script code!");
        EXPECT_EQ(run.exitCode, 0xFFFFFFFFu);
        EXPECT_TRUE(NewTempFiles(run.filesWhileBoxOpen).empty());
        EXPECT_FALSE(TempDirsLeft());
    }
}

}  // namespace
