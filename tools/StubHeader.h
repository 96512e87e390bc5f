#pragma once

#include <string>

// Prepares the stub program for a package. The stub reads where its package ends from bytes
// 248..255 of its DOS header and recognises itself as an executable only with its PE header at
// offset 256. Linkers put that header elsewhere (often at 128), so a PE stub whose header sits
// elsewhere gets its headers moved to 256 (the loader follows e_lfanew, nothing else changes).
//
// `executable` tells whether the result is such an executable. A stub that is no PE program is
// left as it is. False with a message when the headers cannot be moved (no room before the first
// section) or are damaged.
bool PlaceStubHeader(std::string& stub, bool& executable, std::string& error);

// Writes the recorded end (the position just after the trailer) into a prepared stub's header.
void WriteRecordedEnd(std::string& header, unsigned long long end);
