// The GUI entry of the shipped program: no console, no window of its own, no message loop.
#include <windows.h>

#include "startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The runtime's own cut of the command line differs from ours; start-up cuts it itself.
    return StartLauncher(instance);
}
