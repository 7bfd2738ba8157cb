// TIFF reader delivering rows of doubles: integer samples of 1 to 32 bits
// (as their exact values) and 32- or 64-bit IEEE floating-point samples.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tiffread/row_table.h"

namespace pv {

// Reads the first image of `path`; outputs as for ReadImageFile. Returns
// the bits per sample of an integer image (1 to 32), 0 for a
// floating-point image, whichever outputs were requested.
int ReadImageFile_Float(const char* path, std::int32_t* width, std::int32_t* height,
                        RowTable<double>* rows, std::optional<std::string>* description);

}  // namespace pv
