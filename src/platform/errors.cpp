#include "platform/errors.h"

#include <cstdarg>
#include <cstdio>
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
  // Compared as bytes, as the original's ANSI comparison would for ASCII; any
  // multi-byte final character sorts after ".".
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}
