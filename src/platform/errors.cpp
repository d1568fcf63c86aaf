#include "platform/errors.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

EOSError::EOSError(int code, const std::string& text)
    : Exception(Format(SOSError, code, text.c_str())), FErrorCode(code) {}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result;
  if (length > 0) {
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    result.assign(buffer.data(), static_cast<size_t>(length));
  }
  va_end(args);
  return result;
}

std::string DisplayMessage(const std::string& message) {
  // Compared as bytes: for ASCII that is the character order, and any
  // multi-byte final character sorts after ".".
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

namespace {

// Length of the well-formed UTF-8 sequence at s[i] and its code point; 0 when
// the bytes there are not one (overlong, surrogate, cut short, out of range).
size_t DecodeUtf8(const std::string& s, size_t i, char32_t& cp) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  size_t length;
  char32_t min;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2, min = 0x80, cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3, min = 0x800, cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4, min = 0x10000, cp = b & 0x07;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (byte(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

// Characters that move or break the line, or reorder what follows them.
bool Invisible(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::string EscapeName(const std::string& name) {
  std::string out;
  char buffer[12];
  for (size_t i = 0; i < name.size();) {
    char32_t cp = 0;
    const size_t length = DecodeUtf8(name, i, cp);
    if (length == 0) {
      std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned char>(name[i]));
      out += buffer;
      ++i;
      continue;
    }
    if (cp == '\\') {
      out += "\\\\";
    } else if (Invisible(cp)) {
      if (cp < 0x80)
        std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned>(cp));
      else
        std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(cp));
      out += buffer;
    } else {
      out.append(name, i, length);
    }
    i += length;
  }
  return out;
}

bool IsUtf8(const std::string& text) {
  char32_t cp = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t length = DecodeUtf8(text, i, cp);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string FileMessage(const char* format, const std::string& path) {
  return Format(format, EscapeName(path).c_str());
}

std::string SystemReason(int error) {
  char buffer[256];
  // The GNU strerror_r may return a static string instead of filling the buffer.
  return strerror_r(error, buffer, sizeof buffer);
}

std::string Exception::Detail() const {
  if (FFileName.empty()) return FReason;
  std::string detail = EscapeName(FFileName);
  if (!FReason.empty()) detail.append(": ").append(FReason);
  return detail;
}

std::string ErrorReport(const std::exception& error) {
  const auto* own = dynamic_cast<const Exception*>(&error);
  std::string text = DisplayMessage(error.what());
  const std::string detail = own != nullptr ? own->Detail() : std::string();
  if (!detail.empty()) {
    text.push_back('\n');
    text.append(detail);
  }
  return text;
}
