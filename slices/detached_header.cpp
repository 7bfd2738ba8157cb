#include "slices/detached_header.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "common/error.h"
#include "common/file_io.h"
#include "common/messages.h"
#include "common/sizes.h"

namespace pv::detached_header {

namespace {

namespace fs = std::filesystem;
namespace rv = raw_volume;

// A message form of messages.h filled with its texts.
template <class... Texts>
std::string Formatted(const char* form, const Texts&... texts) {
  const int n = std::snprintf(nullptr, 0, form, texts.c_str()...);
  std::string out(std::size_t(n > 0 ? n : 0), '\0');
  std::snprintf(out.data(), out.size() + 1, form, texts.c_str()...);
  return out;
}

}  // namespace

Kind KindOf(const std::string& header) {
  const fs::path ext = fs::path(header).extension();
  if (ext == ".nhdr") return Kind::kNrrd;
  if (ext == ".mhd") return Kind::kMetaImage;
  if (ext == ".hdr") return Kind::kEnvi;
  Error(header, msg::kUnknownExtension);
}

double ParseSpacing(const char* text) {
  char* end;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(v) || v <= 0)
    Error(text, msg::kBadSpacing);
  return v;
}

namespace {

// The shortest decimal text that reads back as the same double.
std::string Decimal(double v) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  return std::string(text, r.ptr);
}

}  // namespace

Volume MeasureVolume(const std::string& path) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) Error(msg::kFileNotFound);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> input(in, std::fclose);
  struct stat st;
  // A pipe or a device has no length to check, and a header cannot point
  // into one.
  if (fstat(fileno(in), &st) != 0 || !S_ISREG(st.st_mode)) Error(path, msg::kNotRegularFile);
  Volume v;
  v.sizes = rv::ReadHeader(in);
  v.body_offset = std::uint64_t(std::ftell(in));
  v.device = st.st_dev;
  v.inode = st.st_ino;
  const std::uint64_t body = std::uint64_t(st.st_size) - v.body_offset;
  const auto want = pv::MulSize(std::size_t(v.sizes.width) * std::size_t(v.sizes.height),
                                std::size_t(v.sizes.count), rv::kSampleBytes);
  if (!want || *want != body) {
    const std::string shape = std::to_string(v.sizes.width) + " x " + std::to_string(v.sizes.height) + " x " +
                              std::to_string(v.sizes.count);
    // width * height fits in 64 bits (each is below 2^31); with the count
    // and the sample size the product may not.
    const std::string need = want ? std::to_string(*want) + " bytes" : "more than 2^64 bytes";
    Error(path, Formatted(msg::kWrongBodyLength, std::to_string(body), need, shape));
  }
  return v;
}

namespace {

// The folder a path lies in, with symbolic links resolved, or nothing when
// it does not exist.
std::optional<fs::path> FolderOf(const std::string& path) {
  fs::path folder = fs::path(path).parent_path();
  std::error_code ec;
  fs::path real = fs::canonical(folder.empty() ? fs::path(".") : folder, ec);
  if (ec) return std::nullopt;
  return real;
}

// The volume's path as seen from the header's folder: its file name when
// the two lie side by side, else a relative path between the real folders
// (so a folder reached through a link is not left through ".." of the
// link).
std::string DataFileName(const std::string& volume, const fs::path& header_folder) {
  const fs::path volume_folder = *FolderOf(volume);  // the volume was opened, so it exists
  const fs::path name = fs::path(volume).filename();
  const std::string relative = (volume_folder / name).lexically_relative(header_folder).string();
  // Each header field is one line of text.
  if (relative.find_first_of("\r\n") != std::string::npos)
    Error(volume, msg::kNameWithLineBreak);
  // "LIST" is a list of data files to follow (NRRD and MetaImage),
  // "LOCAL" data in the header itself (MetaImage); "./" keeps them names.
  if (strcasecmp(relative.c_str(), "LIST") == 0 || strcasecmp(relative.c_str(), "LOCAL") == 0)
    return "./" + relative;
  return relative;
}

// An ENVI header is found by its reader beside the volume, as the volume's
// name with its extension replaced by, or followed by, ".hdr".
void CheckEnviName(const std::string& volume, const std::string& header) {
  const fs::path v(volume);
  const std::string name = v.filename().string();
  const std::size_t dot = name.rfind('.');
  const std::string replaced = (dot == std::string::npos ? name : name.substr(0, dot)) + ".hdr";
  const std::string appended = name + ".hdr";
  const std::string found = fs::path(header).filename().string();
  const auto volume_folder = FolderOf(volume), header_folder = FolderOf(header);
  if ((found == replaced || found == appended) && volume_folder && header_folder && *volume_folder == *header_folder)
    return;
  Error(header, Formatted(msg::kEnviNameNotFound, (v.parent_path() / replaced).string(),
                         (v.parent_path() / appended).string()));
}

// The sizes, and the spacings when given, one axis a word; one slice is a
// two-dimensional image.
std::string Words(const rv::Header& h, const std::vector<double>& spacing, bool of_spacing) {
  const int axes = h.count > 1 ? 3 : 2;
  const int sizes[3] = {h.width, h.height, h.count};
  std::string words;
  for (int a = 0; a < axes; ++a) {
    if (a > 0) words += ' ';
    words += of_spacing ? Decimal(spacing[std::size_t(a)]) : std::to_string(sizes[a]);
  }
  return words;
}

std::string NrrdHeader(const Volume& v, const std::vector<double>& spacing, const std::string& data_file) {
  std::string t = "NRRD0004\n";
  t += "# a raw volume of pvtools: little-endian doubles after a header line\n";
  t += "type: double\n";
  t += "dimension: " + std::to_string(v.sizes.count > 1 ? 3 : 2) + "\n";
  t += "sizes: " + Words(v.sizes, spacing, false) + "\n";
  if (!spacing.empty()) t += "spacings: " + Words(v.sizes, spacing, true) + "\n";
  t += "endian: little\n";
  t += "encoding: raw\n";
  t += "byte skip: " + std::to_string(v.body_offset) + "\n";
  t += "data file: " + data_file + "\n";
  return t;
}

std::string MetaImageHeader(const Volume& v, const std::vector<double>& spacing, const std::string& data_file) {
  std::string t = "ObjectType = Image\n";
  t += "NDims = " + std::to_string(v.sizes.count > 1 ? 3 : 2) + "\n";
  t += "DimSize = " + Words(v.sizes, spacing, false) + "\n";
  if (!spacing.empty()) t += "ElementSpacing = " + Words(v.sizes, spacing, true) + "\n";
  t += "ElementType = MET_DOUBLE\n";
  t += "BinaryData = True\n";
  t += "BinaryDataByteOrderMSB = False\n";
  t += "CompressedData = False\n";
  t += "HeaderSize = " + std::to_string(v.body_offset) + "\n";
  // The last field: the reader takes the data from here on.
  t += "ElementDataFile = " + data_file + "\n";
  return t;
}

// ENVI has a pixel size (in "map info", as on an unreferenced map) but no
// distance between bands: dz goes only into the description.
std::string EnviHeader(const Volume& v, const std::vector<double>& spacing) {
  std::string t = "ENVI\n";
  t += "description = {pvtools raw volume";
  if (!spacing.empty())
    t += ", voxel spacing " + Words(v.sizes, spacing, true);
  t += "}\n";
  t += "samples = " + std::to_string(v.sizes.width) + "\n";
  t += "lines = " + std::to_string(v.sizes.height) + "\n";
  t += "bands = " + std::to_string(v.sizes.count) + "\n";
  t += "header offset = " + std::to_string(v.body_offset) + "\n";
  t += "file type = ENVI Standard\n";
  t += "data type = 5\n";  // 8-byte IEEE double
  t += "interleave = bsq\n";  // band after band: slice after slice
  t += "byte order = 0\n";  // least significant byte first
  if (!spacing.empty())
    t += "map info = {Arbitrary, 1, 1, 0, 0, " + Decimal(spacing[0]) + ", " + Decimal(spacing[1]) + "}\n";
  return t;
}

}  // namespace

std::string HeaderText(Kind kind, const Volume& volume, const std::string& volume_path,
                       const std::string& header, const std::vector<double>& spacing) {
  if (kind == Kind::kEnvi) CheckEnviName(volume_path, header);
  struct stat st;
  if (::stat(header.c_str(), &st) == 0 && st.st_dev == volume.device && st.st_ino == volume.inode)
    Error(header, msg::kWouldOverwriteVolume);
  const auto header_folder = FolderOf(header);
  if (!header_folder) Error(header, msg::kFileNotStored);
  switch (kind) {
    case Kind::kNrrd: return NrrdHeader(volume, spacing, DataFileName(volume_path, *header_folder));
    case Kind::kMetaImage: {
      const std::string data_file = DataFileName(volume_path, *header_folder);
      // A MetaImage reader takes a name with "%" for the pattern of a series
      // of numbered files, and reads none of them.
      if (data_file.find('%') != std::string::npos) Error(volume_path, msg::kNameWithPattern);
      return MetaImageHeader(volume, spacing, data_file);
    }
    case Kind::kEnvi: break;
  }
  return EnviHeader(volume, spacing);
}

void StoreHeader(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) Error(path, msg::kFileNotStored);
  const bool whole = pv::WriteFully(fd, text.data(), text.size());
  if (::close(fd) != 0 || !whole) {
    ::unlink(path.c_str());
    Error(path, msg::kFileNotStored);
  }
}

}  // namespace pv::detached_header
