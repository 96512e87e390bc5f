// Reads the chunks of a RIFF WAVE file into a wave I/O record: the format, where the samples
// are and how many, the INFO list and the display chunks. Every size read from the file is cut
// to what the file really holds before it is used, so truncated and damaged files read as far
// as they go.
#pragma once

#include "generator/wavefile/MMWaveIO.h"

// The handle is positioned at the start of the file; returns a TWaveIOResult.
int32_t ReadWaveChunks(HMMIO handle, TWaveIORecord& record);
