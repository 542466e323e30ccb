#include "recording_process.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace recording {

State& Recorder() {
    static State state;
    return state;
}

void Reset(const Settings& settings) {
    Recorder() = State{settings, {}, false};
}

namespace {

int g_engineToken = 0;

std::string ListFiles(const std::vector<std::filesystem::path>& dirs) {
    std::vector<std::string> names;
    for (const auto& dir : dirs) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
            if (entry.is_regular_file()) {
                names.push_back(
                    std::filesystem::relative(entry.path(), dir.parent_path()).string());
            }
        }
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const auto& name : names) {
        out += " " + name;
    }
    return out;
}

std::uint32_t Query(const std::string& text, std::uint32_t result, char* buffer,
                    std::uint32_t size) {
    std::memset(buffer, 'X', size);
    const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return result;
}

std::int32_t EntryExe(const char* command, void* reserved, const char* launcherPath) {
    Recorder().events.push_back(std::string("call RunIlvarcCodeEXE [") + command + "] " +
                                (reserved == nullptr ? "null" : "non-null") + " [" + launcherPath +
                                "]");
    return Recorder().settings.engine.result;
}

std::int32_t Entry(const char* command, void* reserved) {
    Recorder().events.push_back(std::string("call RunIlvarcCode [") + command + "] " +
                                (reserved == nullptr ? "null" : "non-null"));
    return Recorder().settings.engine.result;
}

}  // namespace
}  // namespace recording

using recording::Recorder;

std::uint32_t QueryModuleFileName(void*, char* buffer, std::uint32_t size) {
    const auto& s = Recorder().settings;
    return recording::Query(s.modulePath, s.moduleResult, buffer, size);
}

std::uint32_t QueryTempPath(char* buffer, std::uint32_t size) {
    const auto& s = Recorder().settings;
    return recording::Query(s.tempPath, s.tempResult, buffer, size);
}

std::uint32_t QuerySystemDirectory(char* buffer, std::uint32_t size) {
    const auto& s = Recorder().settings;
    return recording::Query(s.systemDir, s.systemResult, buffer, size);
}

const char* ProcessCommandLine() {
    return Recorder().settings.commandLine.c_str();
}

bool IsAnsiLeadByte(unsigned char) {
    return false;
}

LibraryHandle LoadEngineLibrary(const char* fileName) {
    Recorder().events.push_back(std::string("load ") + fileName);
    if (Recorder().settings.loadThrowsBadAlloc) {
        throw std::bad_alloc();
    }
    if (Recorder().settings.loadFails) {
        return nullptr;
    }
    Recorder().libraryLoaded = true;
    return &recording::g_engineToken;
}

void* FindLibraryEntry(LibraryHandle, const char* entryName) {
    const auto& engine = Recorder().settings.engine;
    Recorder().events.push_back(std::string("find ") + entryName);
    if (std::strcmp(entryName, "RunIlvarcCodeEXE") == 0 && engine.exportsEntryExe) {
        return reinterpret_cast<void*>(&recording::EntryExe);
    }
    if (std::strcmp(entryName, "RunIlvarcCode") == 0 && engine.exportsEntry) {
        return reinterpret_cast<void*>(&recording::Entry);
    }
    return nullptr;
}

void UnloadLibrary(LibraryHandle) {
    Recorder().events.push_back("unload");
    Recorder().libraryLoaded = false;
}

void ExcludeCurrentDirectoryFromLibrarySearch() {
    Recorder().events.push_back("exclude current directory");
}

void DeleteFileAt(const char* path) {
    Recorder().events.push_back("delete " + std::filesystem::path(path).filename().string());
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

bool CreateUniqueDirectory(const std::string& parent, std::string& created) {
    for (int n = 0; n < 100; ++n) {
        const auto candidate = std::filesystem::path(parent) / ("run" + std::to_string(n));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            created = candidate.string();
            return true;
        }
        if (error) {
            return false;
        }
    }
    return false;
}

void RemoveEmptyDirectory(const char* path) {
    Recorder().events.push_back("rmdir");
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

int ShowMessageBox(const char* text, const char* title, unsigned style) {
    auto& r = Recorder();
    r.events.push_back(std::string("box ") + title + " " + std::to_string(style) + " [" + text +
                       "] loaded=" + (r.libraryLoaded ? "yes" : "no") +
                       " files:" + recording::ListFiles(r.settings.watched));
    return 1;
}
