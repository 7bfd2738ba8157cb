// TIFF reader for integer samples of 1 to 32 bits (signed ones of 8, 16 or
// 32) and 16-, 32- or 64-bit IEEE floating-point samples, each delivered in
// its stored width (image.h); callers convert rows as they use them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tiffread/image.h"
#include "tiffread/pages.h"

namespace pv {

// Reads the first image of `path`; outputs as for ReadImageFile. `image`
// receives the samples in their stored width (see image.h; its buffer is
// reused). Returns the bits per sample of an integer image (1 to 32), 0 for
// a floating-point image, whichever outputs were requested.
int ReadImageFile_Float(const char* path, std::int32_t* width, std::int32_t* height,
                        StoredImage* image, std::optional<std::string>* description);

// Reads the current page of `pages`, as ReadImageFile_Float reads the
// first; its faults name the page (pages.h).
int ReadPage_Float(TiffPages& pages, std::int32_t* width, std::int32_t* height,
                   StoredImage* image, std::optional<std::string>* description);

// No samples requested.
inline int ReadImageFile_Float(const char* path, std::int32_t* width, std::int32_t* height,
                               std::nullptr_t, std::optional<std::string>* description) {
  return ReadImageFile_Float(path, width, height, static_cast<StoredImage*>(nullptr), description);
}

}  // namespace pv
