#pragma once

#include <cstdint>

// Fills the four path strings in their order, then runs the launch sequence.
std::int32_t StartLauncher(void* instance);
