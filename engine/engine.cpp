// The stand-in script engine: runs a small line-based script so that tests and the demo can see
// what the launcher handed over. The script language is described in README.md.
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#ifndef IVENGINE_EXPORT_EXE
#define IVENGINE_EXPORT_EXE 1
#endif
#ifndef IVENGINE_EXPORT_CODE
#define IVENGINE_EXPORT_CODE 1
#endif

namespace {

// Script errors; chosen so that they cannot pass for an ordinary success.
constexpr int SCRIPT_UNREADABLE = -2;
constexpr int SCRIPT_BAD_COMMAND = -3;

struct Call {
    const char* entry;
    const char* command;
    const void* reserved;
    const char* launcherPath;  // null for RunIlvarcCode
    std::string scriptPath;
    std::string arguments;
};

// The command string is a quoted script path, then a blank and the arguments.
void SplitCommand(Call& call) {
    const std::string command = call.command != nullptr ? call.command : "";
    if (command.empty() || command[0] != '"') {
        call.scriptPath = command;
        return;
    }
    const std::size_t close = command.find('"', 1);
    if (close == std::string::npos) {
        call.scriptPath = command.substr(1);
        return;
    }
    call.scriptPath = command.substr(1, close - 1);
    if (close + 1 < command.size() && command[close + 1] == ' ') {
        call.arguments = command.substr(close + 2);
    }
}

std::string Hex(const char* text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        out += digits[byte >> 4];
        out += digits[byte & 0x0F];
    }
    return out;
}

bool WriteReport(const Call& call, const std::string& path) {
    std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "wb"),
                                                            &std::fclose);
    if (!file) {
        return false;
    }
    const std::string text =
        std::string("entry=") + call.entry + "\n" + "command=" + Hex(call.command) + "\n" +
        "reserved=" + (call.reserved == nullptr ? "null" : "nonnull") + "\n" +
        "launcher=" + (call.launcherPath == nullptr ? "none" : Hex(call.launcherPath)) + "\n" +
        "script=" + Hex(call.scriptPath.c_str()) + "\n" + "args=" + Hex(call.arguments.c_str()) +
        "\n";
    return std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
}

// Decimal, negative decimal or 0x hex; hex covers the whole 32-bit range (0x80000000).
bool ParseNumber(const std::string& text, std::int32_t& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const unsigned long parsed = std::strtoul(text.c_str() + 2, &end, 16);
        if (errno != 0 || *end != '\0' || parsed > 0xFFFFFFFFul) {
            return false;
        }
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(parsed));
        return true;
    }
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) {
        return false;
    }
    value = static_cast<std::int32_t>(parsed);
    return true;
}

void Crash() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

int Fail(const char* what, const std::string& line, int code) {
    std::fprintf(stderr, "IVENGINE: %s: %s\n", what, line.c_str());
    std::fflush(stderr);
    return code;
}

int RunScript(const Call& call) {
    // Open for the whole run, so that "hold" keeps the script file in use.
    std::unique_ptr<std::FILE, decltype(&std::fclose)> script(
        std::fopen(call.scriptPath.c_str(), "rb"), &std::fclose);
    if (!script) {
        return Fail("cannot open script", call.scriptPath, SCRIPT_UNREADABLE);
    }
    std::string line;
    int c = 0;
    while (c != EOF) {
        line.clear();
        while ((c = std::fgetc(script.get())) != EOF && c != '\n') {
            line += static_cast<char>(c);
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::size_t blank = line.find(' ');
        const std::string word = line.substr(0, blank);
        const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
        std::int32_t number = 0;
        if (word == "print") {
            std::printf("%s\n", rest.c_str());
            std::fflush(stdout);
        } else if (word == "args") {
            std::printf("%s\n", call.arguments.c_str());
            std::fflush(stdout);
        } else if (word == "report") {
            if (!WriteReport(call, rest)) {
                return Fail("cannot write report", rest, SCRIPT_BAD_COMMAND);
            }
        } else if (word == "hold" && ParseNumber(rest, number) && number >= 0) {
            Sleep(static_cast<DWORD>(number));
        } else if (word == "exit" && ParseNumber(rest, number)) {
            return number;
        } else if (word == "crash") {
            Crash();
        } else if (word == "exitprocess" && ParseNumber(rest, number)) {
            std::fflush(nullptr);
            ExitProcess(static_cast<UINT>(number));
        } else {
            return Fail("bad command", line, SCRIPT_BAD_COMMAND);
        }
    }
    return 0;
}

int Run(const char* entry, const char* command, void* reserved, const char* launcherPath) {
    Call call{entry, command != nullptr ? command : "", reserved, launcherPath, {}, {}};
    SplitCommand(call);
    return RunScript(call);
}

}  // namespace

#if IVENGINE_EXPORT_EXE
extern "C" __declspec(dllexport) int WINAPI
    RunIlvarcCodeEXE(const char* command, void* reserved, const char* launcherPath) {
    return Run("RunIlvarcCodeEXE", command, reserved, launcherPath);
}
#endif

#if IVENGINE_EXPORT_CODE
extern "C" __declspec(dllexport) int WINAPI RunIlvarcCode(const char* command, void* reserved) {
    return Run("RunIlvarcCode", command, reserved, nullptr);
}
#endif

#if !IVENGINE_EXPORT_EXE && !IVENGINE_EXPORT_CODE
// Keeps the unused helpers referenced in a build that exports nothing.
[[maybe_unused]] static int (*const keepRun)(const char*, const char*, void*, const char*) = Run;
#endif
