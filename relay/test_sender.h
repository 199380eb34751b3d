// The test sender: a sender for the relay's tests, whose behaviour is chosen
// by the word in the file "sender_mode" of its current directory (the
// middleware starts a sender without arguments):
//   short, large, binary  write test_message(mode) with one write, then exit
//   slow                  waits slow_sender_ms first, then writes as short does
//   silent                writes nothing and exits
//   handles               writes how many handles it holds beyond the three
//                         standard ones; test_message("handles") is the line
//                         for none
//   access                writes whether any account may open the pipe that
//                         is its standard output; test_message("access") is
//                         the line for no
#pragma once

#include <string>

constexpr int slow_sender_ms = 500;

inline std::string test_message(const std::string &mode) {
  if (mode == "short" || mode == "slow") return "a short message through pipe A\n";
  if (mode == "large") {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += (char)('a' + i % 26);
    return text;
  }
  if (mode == "binary") {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += (char)(255 - i);
    static const char tail[] = "\r\n\r\r\n\0tail";  // sizeof counts the final NUL too
    return bytes + std::string(tail, sizeof tail);
  }
  if (mode == "handles") return "handles beyond the standard three: 0\n";
  if (mode == "access") return "pipe open to every account: no\n";
  return "";
}

// Handles this process holds besides its standard input, output and error
// (on Windows: pipe handles only), or -1 when they cannot be counted.
int count_other_handles();

// Whether any account may open this process's standard output (on Windows: its
// access list is present and null; on POSIX: its mode grants others access):
// 1 or 0, or -1 when that cannot be told.
int output_open_to_all();
