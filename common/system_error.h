// The system's own words for its error codes.
#pragma once

#include <cstddef>

// Writes the system's text for code (an errno value on Linux, a GetLastError()
// value on Windows) into text, at most size bytes including the terminating
// null, without a final line end.
void describe_system_error(int code, char *text, size_t size);
