// Starts a packaged program with an exact command line, answers its error box and reports what
// it showed, which files existed while the box was open, and its full 32-bit exit code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PackagedRun {
    bool started = false;
    bool timedOut = false;
    int boxes = 0;
    std::string title;
    std::string text;
    bool hasIcon = false;
    std::vector<std::string> filesWhileBoxOpen;  // relative to the watched directories' parents
    std::vector<bool> watchedFilesWhileBoxOpen;  // whether each watched file existed
    std::uint32_t exitCode = 0;
};

// currentDir may be empty for the runner's own.
struct RunOptions {
    std::vector<std::string> watchedDirs;   // listed while a box is open
    std::vector<std::string> watchedFiles;  // tested for existence while a box is open
    std::string currentDir;                 // empty: the runner's own
    unsigned timeoutMs = 60000;
};

PackagedRun RunPackaged(const std::string& commandLine, const RunOptions& options = {});

// Every file under dir, recursively, as paths relative to dir's parent.
std::vector<std::string> ListFilesUnder(const std::string& dir);
