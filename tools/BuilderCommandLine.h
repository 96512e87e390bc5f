#pragma once

#include <ostream>
#include <string>
#include <vector>

// The package builder's command line (documented in tools/README.md). `args` excludes the
// program name. Returns the exit code: 0 done, 1 the build failed, 2 the command line is wrong.
int RunPackageBuilder(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
