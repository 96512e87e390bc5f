#pragma once

#include <functional>
#include <string>

// Tokens stored in a package are hidden values: the token between random padding, XOR-masked,
// with a one-byte sum, hex-encoded and shifted by 50 per character so that they do not read
// as plain hexadecimal.

// Decodes a hidden value; false when the text is not one (bad hex, too short, wrong sum byte,
// or padding lengths that do not fit the value).
bool TryDecodeHiddenValue(const std::string& text, std::string& value);

// The decoded value, or the decimal text of a random number from 0 to 99998 when decoding fails,
// so that a damaged token matches nothing.
std::string DecodeHiddenValue(const std::string& text);

// Draws the number used for failed decodes: a value in 0..limit-1. Tests may replace it.
extern std::function<unsigned(unsigned limit)> HiddenValueRandom;
