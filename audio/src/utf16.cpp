// UTF-8 <-> UTF-16; invalid input becomes U+FFFD.
#include "utf16.h"

namespace vts::audio {

std::string ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char b = s[i];
    char32_t c;
    int extra;
    if (b < 0x80) {
      c = b, extra = 0;
    } else if ((b >> 5) == 6) {
      c = b & 0x1F, extra = 1;
    } else if ((b >> 4) == 14) {
      c = b & 0x0F, extra = 2;
    } else if ((b >> 3) == 30) {
      c = b & 0x07, extra = 3;
    } else {
      out += char16_t(0xFFFD);
      ++i;
      continue;
    }
    bool ok = i + extra < n;
    for (int k = 1; ok && k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80)
        ok = false;
      else
        c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (!ok || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out += char16_t(0xFFFD);
      ++i;
      continue;
    }
    i += std::size_t(extra) + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += char16_t(0xD800 + (c >> 10));
      out += char16_t(0xDC00 + (c & 0x3FF));
    } else {
      out += char16_t(c);
    }
  }
  return out;
}

}  // namespace vts::audio
