// Deflate in chunks, on several threads or on one: one raw deflate stream
// built from chunks compressed side by side, the way parallel gzip tools do
// it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/sink.h"
#include "parallel/task_group.h"
#include "parallel/worker_pool.h"
#include "session/result.h"

namespace lorebox {

// A Sink that deflates what it is given (ISA-L's level 3) and writes the
// raw deflate stream, in order, to another sink. The input is cut into
// kChunkSize chunks, each compressed on its own with the 32 KiB before it
// as its dictionary and ended with a sync flush (the last one finished), so
// the chunks' outputs join into one valid stream. The chunks are compressed
// on a worker pool when there is one, else on the calling thread; either
// way the compressed bytes are the same, whatever the number of workers and
// however the input is cut into writes. At most a fixed number of chunks
// per worker are held at once, whatever the stream's length.
class ParallelDeflate : public Sink {
 public:
  static constexpr size_t kChunkSize = 256 * 1024;

  // `pool` may be null or have no workers: then everything runs on the
  // calling thread. `pool` (when given) and `out` must outlive this object.
  ParallelDeflate(WorkerPool* pool, Sink& out);
  // Waits for the chunks still being compressed.
  ~ParallelDeflate() override;
  ParallelDeflate(const ParallelDeflate&) = delete;
  ParallelDeflate& operator=(const ParallelDeflate&) = delete;

  // Takes the bytes; compresses and passes on whole chunks as they fill.
  // Fails with "compression failed ({the encoder's reason})" or with the
  // reason `out` gave; after a failure nothing more should be written. An
  // exception thrown while a chunk was compressed on a worker is thrown
  // again here or in finish().
  Result<void> write(std::string_view bytes) override;

  // Compresses the rest as the last chunk and writes everything still
  // pending to `out`. Call once, after the last write.
  Result<void> finish();

  // CRC-32 and length of the bytes written so far through finish().
  uint32_t crc() const { return crc_; }
  uint64_t size() const { return size_; }

 private:
  struct Chunk;
  struct Encoder;

  // Hands `pending_` on as the next chunk: to the pool, or compresses it
  // here and passes it on at once.
  Result<void> submit(bool last);
  // Passes the oldest chunk's output on when it is done; with `wait`,
  // waits for it first. Does nothing when no chunk is held.
  Result<void> pass_on_oldest(bool wait);
  // Compresses `chunk` with the encoder of `slot` (a worker's index, or the
  // pool's size for the calling thread).
  void compress(Chunk& chunk, size_t slot);

  Sink& out_;
  size_t max_chunks_;
  std::string pending_;     // input of the chunk being filled
  std::string dictionary_;  // the last 32 KiB of input handed on so far
  uint32_t crc_ = 0;
  uint64_t size_ = 0;
  // The chunks' state and the encoders are used by tasks still running
  // until tasks_ (declared after them, so destroyed first) has waited for
  // them.
  std::deque<std::unique_ptr<Chunk>> chunks_;       // oldest first
  std::vector<std::unique_ptr<Chunk>> spare_;       // passed on, to be used again
  std::vector<std::unique_ptr<Encoder>> encoders_;  // one per worker, one for this thread
  std::optional<TaskGroup> tasks_;                  // none when there are no workers
};

}  // namespace lorebox
