// A stand-in for the launcher's process services that records every call, so that the launch
// sequence can be checked natively: which calls in which order, and what existed when.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "process_services.h"

namespace recording {

struct Engine {
    bool exportsEntryExe = true;
    bool exportsEntry = true;
    std::int32_t result = 0;
};

struct Settings {
    bool loadFails = false;
    bool loadThrowsBadAlloc = false;
    Engine engine;
    // Query results: the text and the value the query returns (0 for failure).
    std::string modulePath, tempPath, systemDir;
    std::uint32_t moduleResult = 0, tempResult = 0, systemResult = 0;
    std::string commandLine;
    // Directories whose files are listed into each message event.
    std::vector<std::filesystem::path> watched;
};

struct State {
    Settings settings;
    std::vector<std::string> events;
    bool libraryLoaded = false;
};

State& Recorder();
void Reset(const Settings& settings);

}  // namespace recording
