// An image in memory: one separately allocated row per image row, row 0 the
// top row of the file, element 0 of a row its leftmost sample.
#pragma once

#include <memory>
#include <vector>

namespace pv {

template <class T>
using RowTable = std::vector<std::unique_ptr<T[]>>;

// The plain pointer table the writers take.
template <class T>
std::vector<const T*> RowPointers(const RowTable<T>& rows) {
  std::vector<const T*> p;
  p.reserve(rows.size());
  for (const auto& r : rows) p.push_back(r.get());
  return p;
}

}  // namespace pv
