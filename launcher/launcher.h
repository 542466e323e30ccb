// The launcher's chief header: the process-wide path strings, the launch sequence and the
// engine version check.
#pragma once

#include <cstdint>
#include <string>

#include "payload_format.h"

// Written once by start-up, in this order, then only read.
extern std::string g_systemDir;
extern std::string g_commandTail;
extern std::string g_modulePath;
extern std::string g_tempDir;

// The whole run after start-up; the result is the process exit code.
std::int32_t RunLauncher();

// The file version of the named file, or 0.0.0.0 when it is missing or has none.
EngineVersion ReadFileVersion(const char* path);

// 1 when a is newer than b, -1 when older, 0 when equal; part by part, unsigned, no carry.
int CompareVersions(EngineVersion a, EngineVersion b);
