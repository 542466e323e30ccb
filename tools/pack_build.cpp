#include "pack_build.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "file_status.h"
#include "pack_common.h"
#include "path.h"
#include "payload_writer.h"

namespace ivpack {
namespace {

struct Input {
    std::string path;
    std::string recordName;
};

std::string BaseName(const std::string& path) {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// SOURCE_DATE_EPOCH makes builds reproducible; otherwise each input's modification time.
std::optional<std::uint32_t> SourceDateEpoch() {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    const char* end = text + std::strlen(text);
    const auto [next, error] = std::from_chars(text, end, value);
    if (error != std::errc() || next != end) {
        return std::nullopt;
    }
    return value;
}

std::uint32_t TimeStampOf(const std::string& path) {
    if (const auto epoch = SourceDateEpoch()) {
        return *epoch;
    }
    FileStatus status;
    if (!GetFileStatus(path.c_str(), status) || status.lastModifiedTime <= 0 ||
        status.lastModifiedTime > 0xFFFFFFFF) {
        return 0;
    }
    return static_cast<std::uint32_t>(status.lastModifiedTime);
}

}  // namespace

int RunBuild(const BuildOptions& options) {
    if (options.level < 0 || options.level > 9) {
        Refuse(options.output, "--level must be 0 to 9");
        return EXIT_USAGE;
    }
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
        epoch != nullptr && *epoch != '\0' && !SourceDateEpoch()) {
        Refuse("SOURCE_DATE_EPOCH", "is not a number of seconds below 2^32");
        return EXIT_BAD_INPUT;
    }

    std::vector<Input> inputs = {{options.script, "SCRIPT.COD"}};
    if (!options.engine.empty()) {
        inputs.push_back({options.engine, "IVENGINE.DLL"});
    }
    for (const std::string& addition : options.additions) {
        const std::size_t eq = addition.find('=');
        if (eq == std::string::npos) {
            inputs.push_back({addition, BaseName(addition)});
        } else {
            inputs.push_back({addition.substr(0, eq), addition.substr(eq + 1)});
        }
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string problem = NameProblem(inputs[i].recordName, RECORD_NAME_FIELD_SIZE);
        if (!problem.empty()) {
            Refuse(inputs[i].path, "record name \"" + inputs[i].recordName + "\" " + problem);
            return EXIT_BAD_INPUT;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (RecordNamesEqual(inputs[i].recordName, inputs[j].recordName)) {
                Refuse(inputs[i].path, "duplicate record name \"" + inputs[i].recordName + "\"");
                return EXIT_BAD_INPUT;
            }
        }
    }
    const std::string scriptName =
        options.scriptName.empty() ? BaseName(options.script) : options.scriptName;
    if (const std::string problem = NameProblem(scriptName, SCRIPT_NAME_FIELD_SIZE);
        !problem.empty()) {
        Refuse(options.script, "script file name \"" + scriptName + "\" " + problem);
        return EXIT_BAD_INPUT;
    }

    const auto launcher = ReadWholeFile(options.launcher);
    if (!launcher) {
        Refuse(options.launcher, "cannot read the launcher");
        return EXIT_BAD_INPUT;
    }
    std::vector<PayloadRecord> records;
    for (const Input& input : inputs) {
        auto content = ReadWholeFile(input.path);
        if (!content) {
            Refuse(input.path, "cannot read");
            return EXIT_BAD_INPUT;
        }
        if (content->size() + launcher->size() >= PACKAGE_SIZE_LIMIT) {
            Refuse(input.path, "too large: the package would reach 2 GiB");
            return EXIT_BAD_INPUT;
        }
        records.push_back({input.recordName, TimeStampOf(input.path), std::move(*content)});
    }

    PayloadHeader header;
    SetFieldText(header.scriptName.data(), header.scriptName.size(), scriptName);
    if (!options.engineVersion.empty()) {
        const auto version = ParseVersion(options.engineVersion);
        if (!version) {
            Refuse(options.engineVersion, "--engine-version is not A.B.C.D with parts up to 65535");
            return EXIT_USAGE;
        }
        header.engineVersion = *version;
    }
    if (!options.engine.empty()) {
        const auto version = PeFileVersion(records[1].content);
        if (!version) {
            Refuse(options.engine, "the engine is not a PE file");
            return EXIT_BAD_INPUT;
        }
        if (options.engineVersion.empty()) {
            header.engineVersion = *version;
        }
    }
    if (header.engineVersion == EngineVersion{}) {
        Warn(options.output, "engine version 0.0.0.0: the embedded engine will never be installed");
    }

    const auto package = BuildPackage(*launcher, header, records, {options.level, 0});
    if (!package) {
        Refuse(options.output, "too large: the package would reach 2 GiB");
        return EXIT_BAD_INPUT;
    }
    std::string problem;
    if (!WriteFileAtomically(options.output, *package, problem)) {
        Refuse(options.output, problem);
        return EXIT_BAD_INPUT;
    }
    return EXIT_OK;
}

}  // namespace ivpack
