// Our PE reader on DLLs nobody here wrote: Wine's own, 32- and 64-bit. Under Wine the results are
// compared file by file with version.dll; natively the sweep runs under the sanitizers.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "launcher.h"
#include "pe_version.h"

namespace fs = std::filesystem;

namespace {

std::string Text(std::uint32_t ms, std::uint32_t ls) {
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
           std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
}

std::string Text(const EngineVersion& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.third) +
           "." + std::to_string(v.fourth);
}

// Every CI run reads a fixed sample of small and large DLLs; pe_version_corpus_full_test reads
// all of them (about a thousand files, over a gigabyte).
bool InSample(const fs::path& dll) {
#ifdef IVTEST_CORPUS_FULL
    (void)dll;
    return true;
#else
    static const char* const SAMPLE[] = {
        "advapi32.dll", "comctl32.dll", "crypt32.dll",    "d3d9.dll",     "dsound.dll",
        "gdi32.dll",    "kernel32.dll", "kernelbase.dll", "msi.dll",      "msvcrt.dll",
        "ntdll.dll",    "ole32.dll",    "oleaut32.dll",   "riched20.dll", "ucrtbase.dll",
        "user32.dll",   "version.dll",  "wininet.dll",    "winmm.dll",    "ws2_32.dll",
        "xinput1_3.dll"};
    const std::string name = dll.filename().string();
    return std::any_of(std::begin(SAMPLE), std::end(SAMPLE),
                       [&](const char* wanted) { return name == wanted; });
#endif
}

std::vector<fs::path> DllsIn(const fs::path& dir) {
    std::vector<fs::path> dlls;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        if (entry.is_regular_file() && entry.path().extension() == ".dll" &&
            InSample(entry.path())) {
            dlls.push_back(entry.path());
        }
    }
    std::sort(dlls.begin(), dlls.end());
    return dlls;
}

TEST(PeVersionCorpus, AgreesWithTheVersionServicesOnWineDlls) {
    const char* const dirs[] = {WINE_DLL_DIR_64, WINE_DLL_DIR_32};
    for (const char* dir : dirs) {
        SCOPED_TRACE(dir);
        const std::vector<fs::path> dlls = DllsIn(dir);
        if (dlls.empty()) {
            GTEST_SKIP() << "no Wine DLLs in " << dir;
        }
        std::size_t versioned = 0;
        for (const fs::path& dll : dlls) {
            std::uint32_t ms = 0;
            std::uint32_t ls = 0;
            const std::string ours =
                ReadPeFileVersion(dll.string().c_str(), ms, ls) ? Text(ms, ls) : "0.0.0.0";
            // Natively ReadFileVersion is our reader again; under Wine it is version.dll.
            EXPECT_EQ(ours, Text(ReadFileVersion(dll.string().c_str()))) << dll.filename().string();
            versioned += ours != "0.0.0.0" ? 1u : 0u;
        }
        // Wine's DLLs carry version resources; finding none means the reader is broken.
        EXPECT_GT(versioned, 0u);
    }
}

}  // namespace
