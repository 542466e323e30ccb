#pragma once

// One modal box titled "Error" with the error icon; returns when the user closes it.
int ShowError(const char* message);
