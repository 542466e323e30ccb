#pragma once

#include <string>

namespace ivpack {

int RunList(const std::string& package, bool json);
int RunVerify(const std::string& package);
int RunExtract(const std::string& package, const std::string& name, const std::string& dest);
int RunVersion(const std::string& file);

}  // namespace ivpack
