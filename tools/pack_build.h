#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ivpack {

struct BuildOptions {
    std::string output;
    std::string launcher;
    std::string script;
    std::string scriptName;  // empty: the script's own file name
    std::string engine;      // empty: no engine record
    std::string engineVersion;
    std::vector<std::string> additions;  // FILE or FILE=NAME
    int level = 9;
};

int RunBuild(const BuildOptions& options);

}  // namespace ivpack
