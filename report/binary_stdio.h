// Standard input and output as bytes: no line-end translation, and no byte
// taken for the end of input, so the report's bytes and the input's are
// the same on every system.
#pragma once

// Puts standard input and standard output in binary mode. Call before either
// is used.
void set_binary_stdio();
