#include "decode_text.h"

#include <algorithm>
#include <cstring>

constexpr unsigned replacement_character = 0xfffd;

void start_decode(text_decoder *decoder) { *decoder = text_decoder{text_undecided, {}, 0, 0}; }

static void append_utf8(unsigned code, std::string *out) {
  if (code < 0x80) {
    *out += (char)code;
  } else if (code < 0x800) {
    *out += (char)(0xc0 | code >> 6);
    *out += (char)(0x80 | (code & 0x3f));
  } else if (code < 0x10000) {
    *out += (char)(0xe0 | code >> 12);
    *out += (char)(0x80 | (code >> 6 & 0x3f));
    *out += (char)(0x80 | (code & 0x3f));
  } else {
    *out += (char)(0xf0 | code >> 18);
    *out += (char)(0x80 | (code >> 12 & 0x3f));
    *out += (char)(0x80 | (code >> 6 & 0x3f));
    *out += (char)(0x80 | (code & 0x3f));
  }
}

static bool is_high_surrogate(unsigned unit) { return unit >= 0xd800 && unit <= 0xdbff; }
static bool is_low_surrogate(unsigned unit) { return unit >= 0xdc00 && unit <= 0xdfff; }

static void take_unit(text_decoder *decoder, unsigned unit, std::string *out) {
  if (decoder->high_surrogate != 0) {
    unsigned high = decoder->high_surrogate;
    decoder->high_surrogate = 0;
    if (is_low_surrogate(unit)) {
      append_utf8(0x10000 + ((high - 0xd800) << 10) + (unit - 0xdc00), out);
      return;
    }
    append_utf8(replacement_character, out);
  }
  if (is_high_surrogate(unit))
    decoder->high_surrogate = unit;
  else
    append_utf8(is_low_surrogate(unit) ? replacement_character : unit, out);
}

static unsigned utf16_unit(const text_decoder *decoder, unsigned char first, unsigned char second) {
  return decoder->encoding == text_utf16_le ? first | second << 8 : first << 8 | second;
}

// The encoding the byte-order mark at the start names, with the mark's
// length; text_undecided while the start is too short to tell and more may
// come.
static int marked_encoding(std::string_view start, bool at_end, size_t *mark_size) {
  static const struct {
    std::string_view mark;
    int encoding;
  } marks[] = {{"\xef\xbb\xbf", text_utf8_marked}, {"\xff\xfe", text_utf16_le}, {"\xfe\xff", text_utf16_be}};
  *mark_size = 0;
  for (const auto &m : marks) {
    if (start.starts_with(m.mark)) {
      *mark_size = m.mark.size();
      return m.encoding;
    }
    if (!at_end && m.mark.starts_with(start)) return text_undecided;
  }
  return text_plain;
}

// Decides the encoding from the held start of the input, then decodes what
// follows the mark. Returns false while undecided.
static bool decide_encoding(text_decoder *decoder, bool at_end, std::string *out) {
  std::string_view start((const char *)decoder->held, decoder->held_size);
  size_t mark_size;
  int encoding = marked_encoding(start, at_end, &mark_size);
  if (encoding == text_undecided) return false;
  decoder->encoding = encoding;
  std::string after_mark(start.substr(mark_size));
  decoder->held_size = 0;
  decode_text(decoder, after_mark, out);
  return true;
}

void decode_text(text_decoder *decoder, std::string_view bytes, std::string *out) {
  if (decoder->encoding == text_undecided) {
    // Three bytes tell every mark.
    size_t taken = std::min(bytes.size(), sizeof decoder->held - decoder->held_size);
    memcpy(decoder->held + decoder->held_size, bytes.data(), taken);
    decoder->held_size += taken;
    bytes.remove_prefix(taken);
    if (!decide_encoding(decoder, false, out)) return;
  }
  if (decoder->encoding == text_plain || decoder->encoding == text_utf8_marked) {
    out->append(bytes);
    return;
  }
  if (decoder->held_size == 1 && !bytes.empty()) {
    take_unit(decoder, utf16_unit(decoder, decoder->held[0], bytes[0]), out);
    decoder->held_size = 0;
    bytes.remove_prefix(1);
  }
  for (; bytes.size() >= 2; bytes.remove_prefix(2))
    take_unit(decoder, utf16_unit(decoder, bytes[0], bytes[1]), out);
  if (!bytes.empty()) {
    decoder->held[0] = bytes[0];
    decoder->held_size = 1;
  }
}

void finish_decode(text_decoder *decoder, std::string *out) {
  if (decoder->encoding == text_undecided) decide_encoding(decoder, true, out);
  if (decoder->high_surrogate != 0) append_utf8(replacement_character, out);
  if (decoder->held_size != 0) append_utf8(replacement_character, out);
  decoder->high_surrogate = 0;
  decoder->held_size = 0;
}
