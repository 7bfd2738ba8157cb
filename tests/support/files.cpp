#include "tests/support/files.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pvtest {

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "pvtest.XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

std::string ReadText(const std::string& path) {
  Bytes b = ReadFile(path);
  return std::string(b.begin(), b.end());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& text) {
  WriteFile(path, Bytes(text.begin(), text.end()));
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

std::uint16_t Le16(const Bytes& b, std::size_t at) {
  if (at + 2 > b.size()) throw std::out_of_range("Le16 past the end");
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  if (at + 4 > b.size()) throw std::out_of_range("Le32 past the end");
  return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
         std::uint32_t(b[at + 3]) << 24;
}

float LeFloat(const Bytes& b, std::size_t at) {
  std::uint32_t bits = Le32(b, at);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

std::string VolumeBytes(const std::string& header, const std::vector<double>& values) {
  std::string s = header;
  s.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(double));
  return s;
}

}  // namespace pvtest
