#pragma once

#include <functional>
#include <string>

// Stores `value` as a hidden value that the stub's decoder turns back into `value`. Padding
// lengths and mask bytes come from `random` (a number in 0..limit-1), so equal tokens look
// different in every package.
std::string EncodeHiddenValue(const std::string& value,
                              const std::function<unsigned(unsigned limit)>& random);

// The same with the process's random engine.
std::string EncodeHiddenValue(const std::string& value);
