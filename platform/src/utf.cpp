// UTF-8 <-> UTF-16 conversion with a policy for invalid input and a limit in code units.
#include "platform/utf.h"

namespace vts::plat {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

std::size_t Utf8Length(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one character at s[i]. Returns its length in bytes, or for invalid input the
// length of the maximal invalid part (at least 1) with *valid false. The second byte's
// range excludes overlong forms, surrogates and values past U+10FFFF at once.
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t* c, bool* valid) {
  const auto b = static_cast<unsigned char>(s[i]);
  *valid = false;
  if (b < 0x80) {
    *c = b;
    *valid = true;
    return 1;
  }
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 1;
  }
  char32_t v = b & (0x3F >> need);
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size()) return k;
    const auto cb = static_cast<unsigned char>(s[i + k]);
    if (cb < (k == 1 ? lo : 0x80) || cb > (k == 1 ? hi : 0xBF)) return k;
    v = (v << 6) | (cb & 0x3F);
  }
  *c = v;
  *valid = true;
  return need + 1;
}

}  // namespace

std::optional<std::string> Utf16ToUtf8(std::u16string_view text, InvalidUtf invalid,
                                       std::size_t maxUnits) {
  std::string out;
  out.reserve(text.size() < maxUnits ? text.size() : maxUnits);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (IsSurrogate(c)) {
      if (invalid == InvalidUtf::kRefuse) return std::nullopt;
      c = kReplacement;
    }
    if (out.size() + Utf8Length(c) > maxUnits) break;
    AppendUtf8(out, c);
  }
  return out;
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view text, InvalidUtf invalid,
                                          std::size_t maxUnits) {
  std::u16string out;
  out.reserve(text.size() < maxUnits ? text.size() : maxUnits);
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    bool valid = false;
    const std::size_t len = DecodeUtf8(text, i, &c, &valid);
    if (!valid) {
      if (invalid == InvalidUtf::kRefuse) return std::nullopt;
      c = kReplacement;
    }
    const std::size_t units = c >= 0x10000 ? 2 : 1;
    if (out.size() + units > maxUnits) break;
    if (units == 2) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  return *Utf16ToUtf8(text, InvalidUtf::kReplace);
}

std::u16string Utf8ToUtf16(std::string_view text) {
  return *Utf8ToUtf16(text, InvalidUtf::kReplace);
}

}  // namespace vts::plat
