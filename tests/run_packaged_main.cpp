// run_packaged "COMMAND LINE" [WATCHED_DIR...]: runs a packaged program, answers its error box
// and prints what it showed and its full exit code.
#include <cstdio>
#include <string>
#include <vector>

#include "packaged_run.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: run_packaged \"COMMAND LINE\" [WATCHED_DIR...]\n");
        return 2;
    }
    RunOptions options;
    options.watchedDirs.assign(argv + 2, argv + argc);
    const PackagedRun run = RunPackaged(argv[1], options);
    if (!run.started) {
        std::fprintf(stderr, "run_packaged: cannot start %s\n", argv[1]);
        return 2;
    }
    if (run.boxes > 0) {
        std::printf("box: %s: %s\n", run.title.c_str(), run.text.c_str());
        for (const auto& file : run.filesWhileBoxOpen) {
            std::printf("file while the box was open: %s\n", file.c_str());
        }
    }
    std::printf("exit code: %d (0x%08X)%s\n", static_cast<int>(run.exitCode),
                static_cast<unsigned>(run.exitCode), run.timedOut ? " after a time-out" : "");
    return 0;
}
