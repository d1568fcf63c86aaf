// Opens arbitrary bytes as the settings key's file, reads the values the
// program reads, writes them back and reads them again. A clear error (an
// Exception) is a fine outcome; a crash, a leak, a hang, a value that changes
// on the way through a write, or a write that loses another section is a
// finding.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/errors.h"
#include "platform/registry.h"

namespace {

const char* const kKey = "\\Software\\Tessaly\\Punchlet";

std::string KeyFile() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "fuzz-registry-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) __builtin_trap();
    ::setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
    std::filesystem::create_directories(pattern + "/Tessaly");
    return pattern;
  }();
  return folder + "/Tessaly/Punchlet.reg";
}

std::string ReadBack(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = KeyFile();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  TRegistry reg;
  if (!reg.OpenKey(kKey, false)) __builtin_trap();
  std::string text;
  int32_t number = 0;
  const bool hasText = reg.GetDataType("B5_03") == REG_SZ;
  const bool hasNumber = reg.GetDataType("B1_01") == REG_DWORD;
  if (hasText) text = reg.ReadString("B5_03");
  if (hasNumber) number = reg.ReadInteger("B1_01");
  try {
    reg.WriteValues({TRegistry::Integer("B1_02", 1), TRegistry::String("B5_03", text)});
  } catch (const Exception&) {
    return 0;  // a file too big to grow
  }
  const std::string written = ReadBack(path);
  TRegistry again;
  if (!again.OpenKey(kKey, false)) __builtin_trap();
  // What was read survives a write, and the written file reads whole.
  if (again.ReadString("B5_03") != text || again.ReadInteger("B1_02") != 1) __builtin_trap();
  if (hasNumber && again.ReadInteger("B1_01") != number) __builtin_trap();
  // A second write of the same values changes nothing.
  again.WriteValues({TRegistry::Integer("B1_02", 1), TRegistry::String("B5_03", text)});
  if (ReadBack(path) != written) __builtin_trap();
  return 0;
}
