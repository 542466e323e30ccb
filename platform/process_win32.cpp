#include <windows.h>

#include <cstdio>

#include "process_services.h"

std::uint32_t QueryModuleFileName(void* instance, char* buffer, std::uint32_t size) {
    return GetModuleFileNameA(static_cast<HMODULE>(instance), buffer, size);
}

std::uint32_t QueryTempPath(char* buffer, std::uint32_t size) {
    return GetTempPathA(size, buffer);
}

std::uint32_t QuerySystemDirectory(char* buffer, std::uint32_t size) {
    return GetSystemDirectoryA(buffer, size);
}

const char* ProcessCommandLine() {
    return GetCommandLineA();
}

bool IsAnsiLeadByte(unsigned char value) {
    return IsDBCSLeadByte(value) != FALSE;
}

LibraryHandle LoadEngineLibrary(const char* fileName) {
    return LoadLibraryA(fileName);
}

void* FindLibraryEntry(LibraryHandle library, const char* entryName) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), entryName));
}

void UnloadLibrary(LibraryHandle library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

void ExcludeCurrentDirectoryFromLibrarySearch() {
    SetDllDirectoryA("");
}

void DeleteFileAt(const char* path) {
    DeleteFileA(path);
}

bool CreateUniqueDirectory(const std::string& parent, std::string& created) {
    // Process id and tick count make clashes rare; CreateDirectoryA refuses an existing name,
    // so a clash only costs another try.
    const DWORD pid = GetCurrentProcessId();
    DWORD seed = GetTickCount();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, "IVR%lX-%lX", static_cast<unsigned long>(pid),
                      static_cast<unsigned long>(seed + static_cast<DWORD>(attempt)));
        std::string candidate = parent + "\\" + name;
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            created = candidate;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return false;
}

void RemoveEmptyDirectory(const char* path) {
    RemoveDirectoryA(path);
}

int ShowMessageBox(const char* text, const char* title, unsigned style) {
    return MessageBoxA(GetDesktopWindow(), text, title, style);
}
