// Detached headers: a small text file that lets another program open a raw
// volume where it lies. The header names the volume's sizes, its sample
// type (little-endian doubles) and the byte count of its header line, which
// is where the body starts. The kind goes by the header's extension:
//
//   .nhdr  NRRD, with "byte skip" and a "data file" relative to the header
//   .mhd   MetaImage, with "HeaderSize" and an "ElementDataFile" likewise
//   .hdr   ENVI, with "header offset"; it names no file, since its reader
//          finds it by the volume's own name, so only image.hdr or
//          image.bin.hdr beside image.bin are written
//
// Only the header line of the volume is read; the body is measured, never
// read. Every check comes before the header file is created, and a header
// that cannot be written whole is removed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "slices/raw_volume.h"

namespace pv::detached_header {

enum class Kind { kNrrd, kMetaImage, kEnvi };

// The kind that the extension of `header` names ("unknown extension").
Kind KindOf(const std::string& header);

// A voxel spacing: a finite decimal number above 0, the whole argument.
double ParseSpacing(const char* text);

// What a header needs of the volume: its sizes, where its body starts, and
// which file it is.
struct Volume {
  raw_volume::Header sizes;
  std::uint64_t body_offset = 0;
  dev_t device = 0;
  ino_t inode = 0;
};

// Reads the header line of the volume at `path` and checks that the file is
// a regular one that holds exactly the body it announces.
Volume MeasureVolume(const std::string& path);

// The text of the header file `header` of kind `kind` for `volume` (at
// `volume_path`), with the spacings when given (one per axis), after the
// checks of the header's name and place.
std::string HeaderText(Kind kind, const Volume& volume, const std::string& volume_path,
                       const std::string& header, const std::vector<double>& spacing);

// Writes `text` as the file `path`, whole or not at all.
void StoreHeader(const std::string& path, const std::string& text);

}  // namespace pv::detached_header
