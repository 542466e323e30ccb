// ivpack as users run it: build, list, verify, extract, version, and every refusal.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "file_status.h"
#include "payload_format.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Bytes;

const std::string IVPACK = IVPACK_PATH;
const std::string ENGINES = IVENGINE_DIR;

struct Result {
    int exitCode = -1;
    std::string output;  // stdout and stderr together
};

Result RunIvpack(const std::string& arguments, const std::string& environment = "") {
    Result result;
    const std::string command = environment + " '" + IVPACK + "' " + arguments + " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 4096> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        result.output.append(buffer.data(), got);
    }
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Engine(const std::string& variant) {
    return ENGINES + "/" + variant + "/IVENGINE.DLL";
}

class IvpackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Any PE file serves as the launcher here.
        fs::copy_file(Engine("v4.0.0.0"), launcher_);
        testing_support::WriteFileBytes(script_, testing_support::TextContent(20000, 31));
        testing_support::WriteFileBytes(extra_, testing_support::RandomContent(7000, 32));
        FileStatus status;
        ASSERT_TRUE(GetFileStatus(script_.c_str(), status));
        status.lastModifiedTime = 1500000000;
        ASSERT_TRUE(SetFileStatus(script_.c_str(), status));
    }

    std::string Build(const std::string& extra = "", const std::string& env = "") {
        const Result r = RunIvpack("build -o " + out_ + " --launcher " + launcher_ + " --script " +
                                       script_ + " --engine " + Engine("default") + " " + extra,
                                   env);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return r.output;
    }

    testing_support::ScratchDir dir_;
    std::string launcher_ = (dir_ / "ivlaunch.exe").string();
    std::string script_ = (dir_ / "hello.ivs").string();
    std::string extra_ = (dir_ / "data.bin").string();
    std::string out_ = (dir_ / "prog.exe").string();
};

TEST_F(IvpackTest, RoundTrip) {
    Build("--add " + extra_ + "=DATA.BIN --script-name RUN.COD");
    const Result list = RunIvpack("list --json " + out_);
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_NE(list.output.find("\"engineVersion\": \"3.2.0.0\""), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("\"scriptName\": \"RUN.COD\""), std::string::npos);
    EXPECT_NE(list.output.find("\"name\": \"SCRIPT.COD\""), std::string::npos);
    EXPECT_NE(list.output.find("\"timeStamp\": 1500000000"), std::string::npos);
    EXPECT_NE(list.output.find("\"name\": \"DATA.BIN\", \"offset\""), std::string::npos);
    EXPECT_EQ(RunIvpack("verify " + out_).exitCode, 0);

    const fs::path into = dir_ / "out";
    fs::create_directory(into);
    for (const auto& [name, source] : {std::pair{"SCRIPT.COD", script_},
                                       {"data.bin", extra_},
                                       {"IVENGINE.DLL", Engine("default")}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(RunIvpack("extract " + out_ + " " + name + " " + into.string() + "/").exitCode,
                  0);
    }
    EXPECT_EQ(testing_support::ReadFileBytes(into / "SCRIPT.COD"),
              testing_support::ReadFileBytes(script_));
    EXPECT_EQ(testing_support::ReadFileBytes(into / "DATA.BIN"),
              testing_support::ReadFileBytes(extra_));
    EXPECT_EQ(testing_support::ReadFileBytes(into / "IVENGINE.DLL"),
              testing_support::ReadFileBytes(Engine("default")));
    FileStatus status;
    ASSERT_TRUE(GetFileStatus((into / "SCRIPT.COD").c_str(), status));
    EXPECT_EQ(status.lastModifiedTime, 1500000000);
}

TEST_F(IvpackTest, SameInputsGiveTheSameBytes) {
    Build("", "SOURCE_DATE_EPOCH=1234567890");
    const Bytes first = testing_support::ReadFileBytes(out_);
    Build("", "SOURCE_DATE_EPOCH=1234567890");
    EXPECT_EQ(testing_support::ReadFileBytes(out_), first);
    EXPECT_NE(RunIvpack("list --json " + out_).output.find("\"timeStamp\": 1234567890"),
              std::string::npos);
}

TEST_F(IvpackTest, EngineVersionFromTheEngineOrTheOverride) {
    struct Case {
        std::string variant;
        std::string override;
        std::string expected;
    };
    const Case cases[] = {
        {"default", "", "3.2.0.0"},
        {"v32767.65535.65535.65535", "", "32767.65535.65535.65535"},
        {"product-newer", "", "3.2.0.0"},
        {"default", "1.2.3.4", "1.2.3.4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variant + " " + c.override);
        const Result r = RunIvpack("build -o " + out_ + " --launcher " + launcher_ + " --script " +
                                   script_ + " --engine " + Engine(c.variant) +
                                   (c.override.empty() ? "" : " --engine-version " + c.override));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_NE(RunIvpack("list " + out_).output.find("engine version: " + c.expected),
                  std::string::npos);
        EXPECT_EQ(RunIvpack("version " + Engine(c.variant)).output,
                  c.variant == "default" || c.variant == "product-newer"
                      ? "3.2.0.0\n"
                      : "32767.65535.65535.65535\n");
    }
    const Result noEngine =
        RunIvpack("build -o " + out_ + " --launcher " + launcher_ + " --script " + script_);
    EXPECT_EQ(noEngine.exitCode, 0);
    EXPECT_NE(noEngine.output.find("will never be installed"), std::string::npos);
}

TEST_F(IvpackTest, RefusesBadInputAndLeavesNoOutput) {
    const std::string base = "build -o " + out_ + " --launcher " + launcher_ + " --script ";
    const std::string longName(32, 'N');
    struct Case {
        const char* what;
        std::string arguments;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {"missing script", base + (dir_ / "missing.ivs").string(), 1, "cannot read"},
        {"missing launcher",
         "build -o " + out_ + " --launcher " + (dir_ / "none.exe").string() + " --script " +
             script_,
         1, "cannot read the launcher"},
        {"record name too long", base + script_ + " --add " + extra_ + "=" + longName, 1,
         "longer than 31 bytes"},
        {"record name with a separator", base + script_ + " --add " + extra_ + "='a\\b'", 1,
         "path separator"},
        {"script name too long", base + script_ + " --script-name " + std::string(256, 'S'), 1,
         "longer than 255 bytes"},
        {"script name with a separator", base + script_ + " --script-name ../x", 1,
         "path separator"},
        {"duplicate record", base + script_ + " --add " + extra_ + "=script.cod", 1,
         "duplicate record name"},
        {"engine no PE file", base + script_ + " --engine " + extra_, 1, "not a PE file"},
        {"bad version", base + script_ + " --engine-version 1.2.3", 2, "A.B.C.D"},
        {"output not writable",
         "build -o " + (dir_ / "no-such-dir" / "p.exe").string() + " --launcher " + launcher_ +
             " --script " + script_,
         1, "cannot create"},
        {"no subcommand", "", 2, ""},
        {"unknown option", "build --frobnicate", 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Result r = RunIvpack(c.arguments);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_FALSE(fs::exists(out_));
        for (const auto& entry : fs::directory_iterator(dir_.path())) {
            EXPECT_EQ(entry.path().filename().string().rfind("~iv", 0), std::string::npos);
        }
    }
    const Result notPackage = RunIvpack("list " + script_);
    EXPECT_EQ(notPackage.exitCode, 1);
    EXPECT_NE(notPackage.output.find("not a packaged program"), std::string::npos);
}

TEST_F(IvpackTest, VerifyNamesTheFault) {
    Build();
    const Bytes good = testing_support::ReadFileBytes(out_);
    const std::size_t count = good.size() - PAYLOAD_END_SIZE + TRAILER_RECORD_COUNT_OFFSET;
    struct Case {
        const char* what;
        Bytes bytes;
        std::string message;
    };
    Bytes crc = good;
    // The script's segment tail lies just before the engine record's header.
    const std::size_t first = Read32le(good.data() + good.size() - PAYLOAD_END_SIZE + 8);
    const std::size_t scriptTail =
        first + RECORD_HEADER_SIZE + Read32le(good.data() + first + 4) - 8;
    crc[scriptTail] ^= 0x01;
    Bytes cut(good.begin(), good.end() - 1000);
    cut.insert(cut.end(), good.end() - static_cast<std::ptrdiff_t>(PAYLOAD_END_SIZE), good.end());
    Bytes wrongCount = good;
    wrongCount[count] = 1;
    const Case cases[] = {
        {"flipped CRC bit", crc, "record 0 (SCRIPT.COD): corrupt data, or CRC-32 or size mismatch"},
        {"cut file", cut, "IVENGINE.DLL"},
        {"wrong record count", wrongCount, "do not end where the trailer begins"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::WriteFileBytes(out_, c.bytes);
        const Result r = RunIvpack("verify " + out_);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    }
}

}  // namespace
