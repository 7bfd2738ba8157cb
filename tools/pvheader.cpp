// pvheader image.bin header [dx dy dz]
//
// Writes a detached header (.nhdr NRRD, .mhd MetaImage, .hdr ENVI, by the
// extension) that lets other programs open a raw volume where it lies, with
// an optional voxel spacing. Only the volume's header line is read; a
// failure leaves no header behind.
#include <string>
#include <vector>

#include "common/error.h"
#include "common/messages.h"
#include "slices/detached_header.h"

namespace {

namespace dh = pv::detached_header;

int Run(int argc, char** argv) {
  if (argc != 3 && argc != 6) pv::Error(pv::msg::kUsagePvheader);
  const std::string volume_path = argv[1], header_path = argv[2];
  const dh::Kind kind = dh::KindOf(header_path);
  std::vector<double> spacing;
  for (int a = 3; a < argc; ++a) spacing.push_back(dh::ParseSpacing(argv[a]));

  const dh::Volume volume = dh::MeasureVolume(volume_path);
  dh::StoreHeader(header_path, dh::HeaderText(kind, volume, volume_path, header_path, spacing));
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return pv::RunMain(Run, argc, argv); }
