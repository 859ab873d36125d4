#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// The commands of the package authoring tool. Each returns the exit code:
// 0 success, 1 the operation failed or the check found problems, 2 usage.
namespace qvtp {

int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

int pack(const std::string &folder, const std::string &outPackage, std::ostream &out, std::ostream &err);
int unpack(const std::string &package, const std::string &folder, std::ostream &out, std::ostream &err);
int check(const std::string &packageOrFolder, std::ostream &out, std::ostream &err);

extern const char *const kUsage;

} // namespace qvtp
