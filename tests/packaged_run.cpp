#include "packaged_run.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>

namespace {

struct BoxSearch {
    DWORD processId;
    HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (owner == search->processId && IsWindowVisible(window) &&
        std::string(className) == "#32770") {
        search->box = window;
        return FALSE;
    }
    return TRUE;
}

std::string WindowText(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

}  // namespace

std::vector<std::string> ListFilesUnder(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code error;
    const std::filesystem::path root(dir);
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file()) {
            names.push_back(std::filesystem::relative(it->path(), root.parent_path()).string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

PackagedRun RunPackaged(const std::string& commandLine, const RunOptions& options) {
    PackagedRun run;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        options.currentDir.empty() ? nullptr : options.currentDir.c_str(), &startup,
                        &process)) {
        return run;
    }
    run.started = true;
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        if (GetTickCount() - start > options.timeoutMs) {
            run.timedOut = true;
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, INFINITE);
            break;
        }
        BoxSearch search{process.dwProcessId, nullptr};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.box == nullptr) {
            continue;
        }
        ++run.boxes;
        run.title = WindowText(search.box);
        char text[1024] = {};
        GetDlgItemTextA(search.box, 0xFFFF, text, sizeof text);
        run.text = text;
        run.hasIcon = SendMessageA(GetDlgItem(search.box, 0x0440), STM_GETICON, 0, 0) != 0;
        run.filesWhileBoxOpen.clear();
        for (const auto& dir : options.watchedDirs) {
            const auto files = ListFilesUnder(dir);
            run.filesWhileBoxOpen.insert(run.filesWhileBoxOpen.end(), files.begin(), files.end());
        }
        run.watchedFilesWhileBoxOpen.clear();
        for (const auto& file : options.watchedFiles) {
            run.watchedFilesWhileBoxOpen.push_back(GetFileAttributesA(file.c_str()) !=
                                                   INVALID_FILE_ATTRIBUTES);
        }
        PostMessageA(search.box, WM_COMMAND, IDOK, 0);
        // Wait for this box to go before looking for another.
        for (int i = 0; i < 200 && IsWindow(search.box) && IsWindowVisible(search.box); ++i) {
            Sleep(10);
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    run.exitCode = code;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}
