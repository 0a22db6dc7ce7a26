// The few things the converter asks of the system that differ between POSIX and Windows.
#pragma once

#include <cstdio>

namespace tavrin::cli {

// The processors this process may run on (its affinity), at least 1.
unsigned UsableProcessors();

// Whether the stream is a terminal (a console on Windows), where a progress line belongs.
bool IsTerminal(std::FILE* stream);

// Standard input read as bytes: no CR LF translation, no end at a Ctrl-Z byte.
void MakeStdinBinary();

}  // namespace tavrin::cli
