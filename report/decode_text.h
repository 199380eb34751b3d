// Captured text in the encodings it is saved in, turned into the bytes the
// parser reads: plain text (UTF-8 or any other byte text) as it is, UTF-8
// after a byte-order mark, and UTF-16 LE or BE after its byte-order mark (as
// Windows PowerShell 5 saves redirected output). Decoded as a stream, a chunk
// at a time, so memory does not grow with the input.
#pragma once

#include <string>
#include <string_view>

constexpr int text_undecided = 0;  // too few bytes yet to tell a byte-order mark
constexpr int text_plain = 1;
constexpr int text_utf8_marked = 2;
constexpr int text_utf16_le = 3;
constexpr int text_utf16_be = 4;

struct text_decoder {
  int encoding;           // one of text_*
  unsigned char held[3];  // the start of a mark, or half a UTF-16 unit, awaiting the next chunk
  size_t held_size;
  unsigned high_surrogate;  // a UTF-16 high surrogate awaiting its low half, or 0
};

void start_decode(text_decoder *decoder);

// Appends to out the text of the next bytes of the input. A chunk may end
// anywhere: within the mark, a UTF-16 unit or a surrogate pair. UTF-16 comes
// out as UTF-8, an unpaired surrogate as U+FFFD.
void decode_text(text_decoder *decoder, std::string_view bytes, std::string *out);

// Appends to out what the input's end completes: held bytes of a short
// input, or U+FFFD for a UTF-16 input cut within a unit or a pair.
void finish_decode(text_decoder *decoder, std::string *out);
