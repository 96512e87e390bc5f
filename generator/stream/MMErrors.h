// The common base of the generator components' exceptions. Each component declares its own
// class (EMMWaveOutError, EMMGeneratorError, ...) in its module, derived from this one, so the
// application can catch them all in one place.
#pragma once

#include <stdexcept>
#include <string>

class EMMError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
