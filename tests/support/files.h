// Files for tests: a scratch directory removed afterwards, whole-file reads
// and writes, little-endian byte assembly.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pvtest {

using Bytes = std::vector<std::uint8_t>;

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

Bytes ReadFile(const std::string& path);
std::string ReadText(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
void WriteFile(const std::string& path, const std::string& text);
bool Exists(const std::string& path);

// Little-endian readers over a byte buffer (for checking written layouts).
std::uint16_t Le16(const Bytes& b, std::size_t at);
std::uint32_t Le32(const Bytes& b, std::size_t at);
float LeFloat(const Bytes& b, std::size_t at);

// A raw volume: header line and little-endian doubles.
std::string VolumeBytes(const std::string& header, const std::vector<double>& values);

}  // namespace pvtest
