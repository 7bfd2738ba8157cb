#include "tiffwrite/lzw_strips.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "common/messages.h"
#include "common/parallel.h"
#include "common/sizes.h"

namespace pv {

namespace {

// Input bytes per batch: at most kLargestBatch, and at least kSmallestBatch
// unless the image is smaller; in between, about four batches per thread.
constexpr std::uint64_t kSmallestBatch = std::uint64_t{64} << 10;
constexpr std::uint64_t kLargestBatch = std::uint64_t{256} << 10;

// Encoding a byte costs several times copying it, the work by which
// ThreadsFor measures a thread's worth: counted four times over, an image
// is shared from half a MiB of rows on (1024² 8-bit codes: 0.51 to 0.42 of
// the libtiff program's time on two CPUs).
constexpr std::uint64_t kWorkPerByte = 4;

}  // namespace

struct LzwStrips::Slot {
  std::unique_ptr<std::uint8_t[]> out;      // the batch as it stands in the file
  std::size_t bytes = 0;                    // of out in use
  std::unique_ptr<std::uint32_t[]> counts;  // the batch's strip lengths
};

LzwStrips::LzwStrips(const char* path, const StripPlan& plan) : plan_(plan) {
  const std::uint64_t strip = std::max<std::uint64_t>(plan.StripBytes(), 1);
  const std::uint64_t image = plan.row_bytes * plan.rows;
  const std::uint64_t target =
      std::clamp<std::uint64_t>(image / (4 * std::uint64_t(UsableCpus())), kSmallestBatch, kLargestBatch);
  batches_ = {.items = plan.strips,
              .per_batch = std::size_t(std::clamp<std::uint64_t>(target / strip, 1, plan.strips)),
              .most_threads = ThreadsFor(kWorkPerByte * image)};

  // Room of a batch: every strip's bound, pad byte included, and the
  // encoder's slack behind the last one. The size check has bounded a
  // strip's output below 2^32; a batch's room is allocated as it is.
  const std::uint64_t room =
      std::uint64_t(batches_.per_batch) * LzwStripBound(plan.StripBytes()) + LzwEncoder::kSlack;
  Allocate([&] {
    if (room > SIZE_MAX) throw std::bad_alloc();
    slot_.resize(batches_.slots());
    for (Slot& s : slot_) {
      s.out.reset(new std::uint8_t[room]);
      s.counts.reset(new std::uint32_t[batches_.per_batch]);
    }
    for (unsigned t = 0; t < batches_.threads(); ++t) {
      encoders_.push_back(std::make_unique<LzwEncoder>());
      idle_.push_back(encoders_.back().get());
    }
  }, path, msg::kNoAllocatableMemory);
}

LzwStrips::~LzwStrips() = default;

LzwEncoder* LzwStrips::TakeEncoder() {
  std::lock_guard lock(mutex_);
  LzwEncoder* e = idle_.back();  // never empty: no more batches run than threads
  idle_.pop_back();
  return e;
}

void LzwStrips::ReturnEncoder(LzwEncoder* encoder) {
  std::lock_guard lock(mutex_);
  idle_.push_back(encoder);
}

void LzwStrips::Write(StrippedTiff& file, const StoredRows& stored_rows) {
  auto work = [&](std::size_t batch, std::size_t slot) {
    Slot& s = slot_[slot];
    const auto first = static_cast<std::uint32_t>(batch * batches_.per_batch);
    const auto end = static_cast<std::uint32_t>(batches_.End(batch));
    LzwEncoder* encoder = TakeEncoder();
    struct Give {
      LzwStrips* self;
      LzwEncoder* e;
      ~Give() { self->ReturnEncoder(e); }
    } give{this, encoder};
    std::size_t at = 0;
    for (std::uint32_t k = first; k < end; ++k) {
      encoder->StartStrip(s.out.get() + at);
      const std::uint32_t row = k * plan_.rows_per_strip, rows = plan_.RowsOf(k);
      for (std::uint32_t y = row; y < row + rows; ++y)
        encoder->EncodeBlock(stored_rows(y, slot), static_cast<std::size_t>(plan_.row_bytes));
      const std::size_t count = encoder->EndStrip();
      s.counts[k - first] = static_cast<std::uint32_t>(count);  // below 2^32: size check
      at += count;
      if (count & 1) s.out[at++] = 0;  // the next strip starts on an even offset
    }
    s.bytes = at;
  };
  auto emit = [&](std::size_t batch, std::size_t slot) {
    const Slot& s = slot_[slot];
    const auto first = static_cast<std::uint32_t>(batch * batches_.per_batch);
    const auto end = static_cast<std::uint32_t>(batches_.End(batch));
    file.PutStrips(s.out.get(), s.bytes, s.counts.get(), end - first);
  };
  OrderedParallel(batches_.batches(), batches_.slots(), work, emit, batches_.threads());
}

}  // namespace pv
