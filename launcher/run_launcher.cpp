#include <string>
#include <string_view>

#include "launcher.h"
#include "path.h"
#include "payload_reader.h"
#include "process_services.h"
#include "show_error.h"

namespace {

constexpr char MAGIC[] = "ILVARC";
constexpr int HEADER_SIZE = static_cast<int>(PAYLOAD_HEADER_SIZE);
constexpr char SCRIPT_RECORD[] = "SCRIPT.COD";
constexpr char ENGINE_RECORD[] = "IVENGINE.DLL";
constexpr char ENTRY_EXE[] = "RunIlvarcCodeEXE";
constexpr char ENTRY[] = "RunIlvarcCode";

using EntryExe = std::int32_t(ILVARC_API_CALL*)(const char* command, void* reserved,
                                                const char* launcherPath);
using Entry = std::int32_t(ILVARC_API_CALL*)(const char* command, void* reserved);

// A name that stays inside the run directory and names a file: anything else would write
// elsewhere or hand the engine a directory.
bool IsPlainFileName(const PayloadHeader& header, std::string& name) {
    std::string_view text;
    if (!FieldText(header.scriptName.data(), header.scriptName.size(), text)) {
        return false;
    }
    if (text.empty() || text == "." || text == ".." ||
        text.find_first_of("\\/:") != std::string_view::npos) {
        return false;
    }
    name = std::string(text);
    return true;
}

// The run's own directory goes with its script.
void RemoveScript(const std::string& scriptPath, const std::string& runDir) {
    DeleteFileAt(scriptPath.c_str());
    RemoveEmptyDirectory(runDir.c_str());
}

}  // namespace

std::int32_t RunLauncher() {
    std::int32_t result = 0;
    std::uint8_t headerBytes[PAYLOAD_HEADER_SIZE] = {};

    if (CheckPayload(g_modulePath.c_str(), MAGIC, headerBytes, HEADER_SIZE) == 0) {
        ShowError("EXE is not an Ilvarc script!");
        return -1;
    }
    const PayloadHeader header = DecodeHeader(headerBytes);

    const std::string installedEngine = g_systemDir + PATH_SEPARATOR + ENGINE_RECORD;
    const EngineVersion installed = ReadFileVersion(installedEngine.c_str());
    if (CompareVersions(header.engineVersion, installed) > 0) {
        const std::string destination = g_systemDir + PATH_SEPARATOR;
        if (ExtractRecord(g_modulePath.c_str(), ENGINE_RECORD, destination.c_str(), MAGIC,
                          headerBytes, HEADER_SIZE) == 0) {
            ShowError("Could not install engine!");
            return -1;
        }
    }

    std::string scriptName;
    std::string runDir;
    if (!IsPlainFileName(header, scriptName) || !CreateUniqueDirectory(g_tempDir, runDir)) {
        ShowError("EXE does not contain script code!");
        return -1;
    }
    const std::string scriptPath = runDir + PATH_SEPARATOR + scriptName;
    if (ExtractRecord(g_modulePath.c_str(), SCRIPT_RECORD, scriptPath.c_str(), MAGIC, headerBytes,
                      HEADER_SIZE) == 0) {
        ShowError("EXE does not contain script code!");
        RemoveEmptyDirectory(runDir.c_str());
        return -1;
    }

    ExcludeCurrentDirectoryFromLibrarySearch();
    const LibraryHandle engine = LoadEngineLibrary(ENGINE_RECORD);
    if (engine == nullptr) {
        ShowError("Could not load engine!");
        RemoveScript(scriptPath, runDir);
        return -1;
    }

    const auto entryExe = reinterpret_cast<EntryExe>(FindLibraryEntry(engine, ENTRY_EXE));
    const auto entry = reinterpret_cast<Entry>(FindLibraryEntry(engine, ENTRY));
    if (entryExe == nullptr && entry == nullptr) {
        ShowError("Error loading engine!");
    } else {
        const std::string command = "\"" + scriptPath + "\" " + g_commandTail;
        if (entryExe != nullptr) {
            result = entryExe(command.c_str(), nullptr, g_modulePath.c_str());
        } else {
            result = entry(command.c_str(), nullptr);
        }
    }

    RemoveScript(scriptPath, runDir);
    UnloadLibrary(engine);
    return result;
}
