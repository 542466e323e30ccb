#include "startup.h"

#include <new>
#include <string>

#include "command_tail.h"
#include "launcher.h"
#include "process_services.h"
#include "show_error.h"

// Declared in this order, so released in the reverse one at exit.
std::string g_systemDir;
std::string g_commandTail;
std::string g_modulePath;
std::string g_tempDir;

namespace {

void* g_instance = nullptr;

constexpr std::uint32_t PATH_BUFFER_SIZE = 260;

// A query that failed or did not fit leaves an empty string, never a partial path.
std::string QueryResult(const char* buffer, std::uint32_t result) {
    if (result == 0 || result >= PATH_BUFFER_SIZE) {
        return std::string();
    }
    return std::string(buffer);
}

void StripTrailingBackslashes(std::string& path) {
    while (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
}

}  // namespace

std::int32_t StartLauncher(void* instance) try {
    g_instance = instance;
    g_commandTail = CutCommandTail(ProcessCommandLine(), IsAnsiLeadByte);

    char buffer[PATH_BUFFER_SIZE] = {};
    g_modulePath = QueryResult(buffer, QueryModuleFileName(g_instance, buffer, PATH_BUFFER_SIZE));
    g_tempDir = QueryResult(buffer, QueryTempPath(buffer, PATH_BUFFER_SIZE));
    StripTrailingBackslashes(g_tempDir);
    g_systemDir = QueryResult(buffer, QuerySystemDirectory(buffer, PATH_BUFFER_SIZE));
    StripTrailingBackslashes(g_systemDir);

    return RunLauncher();
} catch (const std::bad_alloc&) {
    // The one place that catches: building paths and strings is all that allocates.
    ShowError("Out of memory!");
    return -1;
}
