#pragma once

#include <string>

// Turns a language text file into a package's language block.
//
//   ; comment                 (also "#")
//   [English]                 one section per language, named as the stub matches it
//   s0=My Product Setup       key=value; the key is trimmed, the value kept byte for byte
//
// The block is a field list delimited by byte 0x02 whose fields are the languages, each a field
// list delimited by byte 0x01: the name, then the key=value fields. Returns false with a message
// naming the line when the text cannot be represented.
bool BuildLanguageBlock(const std::string& text, std::string& block, std::string& error);
