#include "tools/BuilderCommandLine.h"

#include <iostream>

int main(int argc, char** argv) {
    return RunPackageBuilder(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
