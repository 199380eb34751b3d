// Numbers as the report writes them, each through one checked function: a
// number that cannot be formatted whole is never written in part, and the
// report that holds it is not complete.
#pragma once

#include <string>

// printf-style fixed decimals ("%.*f").
std::string format_fixed(double value, int decimals);

// printf-style significant digits ("%.*g"): "0.6", "1e+03".
std::string format_general(double value, int digits);

// The shortest decimal without an exponent that reads back as the same double.
std::string format_exact(double value);

// The shortest text that reads back as the same double, with an exponent
// where that is shorter ("0.05", "1e-300"), as JSON writes numbers: for values
// of any size, such as p-values and alpha.
std::string format_shortest(double value);

// A p-value to read: three decimals ("0.029"), or three significant digits
// with an exponent below 0.001 ("1.5e-45").
std::string format_p(double p);

// Bytes in the largest of B, KiB, MiB, GiB that keeps the number at 1 or
// more, with up to 4 significant digits: "512 B", "5.5 KiB", "64 MiB".
std::string format_size(double bytes);

// Whether a formatter above could not format a number (and gave "" for it):
// a report holding one is not complete.
bool number_format_failed();
