// TIFF reader delivering 16-bit samples (integer images of 1 to 16 bits per
// sample: unsigned ones as uint16, signed ones of 8 or 16 bits as int16).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tiffread/image.h"
#include "tiffread/pages.h"

namespace pv {

// Reads the first image of `path`. Every output is optional (null: not
// requested), and what is requested decides which tags are read and
// checked. `image` receives the samples as uint16, or int16 when they are
// signed (its buffer is reused).
// `description` receives the ImageDescription bytes as stored (normally
// ending with the file's own NUL), or nothing when the file has none. Fatal
// conditions throw FatalError with "<path> : <message>\n"; warnings are
// printed as "<path> : <message> (warning).\n".
void ReadImageFile(const char* path, std::int32_t* width, std::int32_t* height, int* bits,
                   StoredImage* image, std::optional<std::string>* description);

// Reads the current page of `pages`, as ReadImageFile reads the first; its
// faults name the page (pages.h).
void ReadPage(TiffPages& pages, std::int32_t* width, std::int32_t* height, int* bits,
              StoredImage* image, std::optional<std::string>* description);

// No samples requested.
inline void ReadImageFile(const char* path, std::int32_t* width, std::int32_t* height, int* bits,
                          std::nullptr_t, std::optional<std::string>* description) {
  ReadImageFile(path, width, height, bits, static_cast<StoredImage*>(nullptr), description);
}

}  // namespace pv
