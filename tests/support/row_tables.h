// Images as tables of rows, one per image row (row 0 the top row, element 0
// its leftmost sample): what the tests, the fuzz harnesses and the
// benchmarks compare against, read through the readers' one form (a
// StoredImage) and copied out row by row, and stored through the writers'
// one form (a source of rows) from a table of row pointers.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/messages.h"
#include "common/sizes.h"
#include "tiffread/image.h"
#include "tiffread/rif.h"
#include "tiffread/rif_f.h"
#include "tiffwrite/sif.h"
#include "tiffwrite/sif_f.h"

namespace pvtest {

template <class T>
using RowTable = std::vector<std::unique_ptr<T[]>>;

namespace row_tables {

// The rows of `image` as T (the integer reader's 16-bit samples as they
// are, any sample of the float reader as a double); a table that cannot be
// allocated ends with the reader's line for the path.
template <class T>
RowTable<T> Copy(const char* path, const pv::StoredImage& image) {
  RowTable<T> table;
  const auto w = static_cast<std::size_t>(image.width());
  pv::Allocate([&] {
    table.reserve(static_cast<std::size_t>(image.height()));
    for (std::int32_t y = 0; y < image.height(); ++y) {
      table.emplace_back(new T[w]);
      T* out = table.back().get();
      if constexpr (std::is_same_v<T, double>) {
        pv::VisitRow(image, y, [&](const auto* row) {
          for (std::size_t k = 0; k < w; ++k) out[k] = static_cast<double>(row[k]);
        });
      } else {
        // The integer reader's 16-bit samples, signed ones bit for bit.
        std::memcpy(out, image.RowData(y), image.row_size());
      }
    }
  }, path, pv::msg::kNoMemoryForCell);
  return table;
}

}  // namespace row_tables

// ReadImageFile_Float delivering a table of rows of doubles (null: no rows).
inline int ReadRows_Float(const char* path, std::int32_t* width, std::int32_t* height,
                          RowTable<double>* rows, std::optional<std::string>* description) {
  if (rows == nullptr) return pv::ReadImageFile_Float(path, width, height, nullptr, description);
  pv::StoredImage image;
  const int result = pv::ReadImageFile_Float(path, width, height, &image, description);
  *rows = row_tables::Copy<double>(path, image);
  return result;
}

// ReadImageFile delivering a table of rows of 16-bit samples (null: no rows).
inline void ReadRows(const char* path, std::int32_t* width, std::int32_t* height, int* bits,
                     RowTable<std::uint16_t>* rows, std::optional<std::string>* description) {
  if (rows == nullptr) return pv::ReadImageFile(path, width, height, bits, nullptr, description);
  pv::StoredImage image;
  pv::ReadImageFile(path, width, height, bits, &image, description);
  *rows = row_tables::Copy<std::uint16_t>(path, image);
}

// StoreImageFile from a table of ny pointers to rows of nx samples.
inline void StoreRows(const char* path, int nx, int ny, int bps, const std::uint16_t* const* rows,
                      const char* description) {
  pv::StoreImageFile(path, nx, ny, bps, [rows](std::uint32_t y, std::uint16_t*) { return rows[y]; },
                     description);
}

// StoreImageFile_Float from a table of ny pointers to rows of nx doubles.
inline void StoreRows_Float(const char* path, int nx, int ny, const double* const* rows,
                            const char* description, pv::FloatLayout layout) {
  pv::StoreImageFile_Float(path, nx, ny, [rows](std::uint32_t y, double*) { return rows[y]; },
                           description, layout);
}

}  // namespace pvtest
