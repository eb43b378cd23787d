// Each chunk is compressed by a deflate stream that belongs to the worker
// running it (reset between chunks, so its memory is allocated once per
// worker): the stream is given the 32 KiB of input before the chunk with
// deflateSetDictionary, so matches may reach back across the chunk's start
// as they would in one stream, then the chunk with Z_SYNC_FLUSH, which ends
// it on a byte boundary inside an unfinished block sequence; the last chunk
// uses Z_FINISH. The CRC-32 of each chunk is computed on its worker and
// joined in order with crc32_combine.
#include "archive/parallel_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <utility>

#include <fmt/format.h>

namespace lorebox {

namespace {

constexpr size_t kWindow = 32 * 1024;
// Chunks held at once per worker: one being compressed, one waiting.
constexpr size_t kChunksPerWorker = 2;
// zlib's defaults, as the one-thread path uses them.
constexpr int kLevel = Z_DEFAULT_COMPRESSION;
constexpr int kMemLevel = 8;
constexpr std::chrono::milliseconds kWaitSlice(1000);

Error compression_failure(int code) {
  return Fail(fmt::format("compression failed ({})", zError(code)));
}

}  // namespace

struct ParallelDeflate::Chunk {
  std::string input;
  std::string dictionary;  // the input just before this chunk, up to 32 KiB
  bool last = false;
  // Written by the worker.
  std::string output;
  uint32_t crc = 0;
  int status = Z_OK;
  std::exception_ptr error;
  std::atomic<bool> done = false;  // stored last
};

struct ParallelDeflate::WorkerStream {
  z_stream stream{};
  bool ready = false;
  ~WorkerStream() {
    if (ready) deflateEnd(&stream);
  }
};

ParallelDeflate::ParallelDeflate(WorkerPool& pool, Sink& out)
    : out_(out),
      max_chunks_(kChunksPerWorker * pool.size()),
      streams_(pool.size()),
      tasks_(pool) {
  pending_.reserve(kChunkSize);
}

ParallelDeflate::~ParallelDeflate() { tasks_.wait_all(); }

Result<void> ParallelDeflate::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t take = std::min(bytes.size(), kChunkSize - pending_.size());
    pending_.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    if (pending_.size() == kChunkSize) {
      if (Result<void> submitted = submit(false); !submitted) return submitted;
    }
  }
  return {};
}

Result<void> ParallelDeflate::finish() {
  if (Result<void> submitted = submit(true); !submitted) return submitted;
  while (!chunks_.empty()) {
    if (Result<void> passed = pass_on_oldest(true); !passed) return passed;
  }
  return {};
}

Result<void> ParallelDeflate::submit(bool last) {
  while (chunks_.size() >= max_chunks_) {
    if (Result<void> passed = pass_on_oldest(true); !passed) return passed;
  }
  auto chunk = std::make_unique<Chunk>();
  chunk->input = std::move(pending_);
  chunk->dictionary = dictionary_;
  chunk->last = last;
  const std::string& input = chunk->input;
  if (input.size() >= kWindow) {
    dictionary_.assign(input, input.size() - kWindow, kWindow);
  } else {
    dictionary_ += input;
    if (dictionary_.size() > kWindow) dictionary_.erase(0, dictionary_.size() - kWindow);
  }
  pending_ = std::string();
  if (!last) pending_.reserve(kChunkSize);

  Chunk* task_chunk = chunk.get();
  chunks_.push_back(std::move(chunk));
  tasks_.submit([this, task_chunk](size_t worker) {
    try {
      compress(*task_chunk, worker);
    } catch (...) {
      task_chunk->error = std::current_exception();
    }
    task_chunk->done.store(true, std::memory_order_release);
  });
  // Whatever is already compressed goes on now, without waiting.
  while (!chunks_.empty() && chunks_.front()->done.load(std::memory_order_acquire)) {
    if (Result<void> passed = pass_on_oldest(false); !passed) return passed;
  }
  return {};
}

Result<void> ParallelDeflate::pass_on_oldest(bool wait) {
  if (chunks_.empty()) return {};
  Chunk& chunk = *chunks_.front();
  auto done = [&chunk] { return chunk.done.load(std::memory_order_acquire); };
  if (!done()) {
    if (!wait) return {};
    while (!tasks_.wait_until(done, kWaitSlice)) {
    }
  }
  if (chunk.error) std::rethrow_exception(chunk.error);
  if (chunk.status != Z_OK) return compression_failure(chunk.status);
  crc_ = static_cast<uint32_t>(
      crc32_combine(crc_, chunk.crc, static_cast<z_off_t>(chunk.input.size())));
  size_ += chunk.input.size();
  Result<void> written = out_.write(chunk.output);
  chunks_.pop_front();
  return written;
}

void ParallelDeflate::compress(Chunk& chunk, size_t worker) {
  std::unique_ptr<WorkerStream>& slot = streams_[worker];
  if (!slot) slot = std::make_unique<WorkerStream>();
  z_stream& stream = slot->stream;
  int code = Z_OK;
  if (!slot->ready) {
    code = deflateInit2(&stream, kLevel, Z_DEFLATED, -MAX_WBITS, kMemLevel,
                        Z_DEFAULT_STRATEGY);
    slot->ready = code == Z_OK;
  } else {
    code = deflateReset(&stream);
  }
  if (code == Z_OK && !chunk.dictionary.empty()) {
    code = deflateSetDictionary(&stream,
                                reinterpret_cast<const Bytef*>(chunk.dictionary.data()),
                                static_cast<uInt>(chunk.dictionary.size()));
  }
  if (code != Z_OK) {
    chunk.status = code;
    return;
  }

  const std::string& input = chunk.input;
  chunk.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(input.data()),
                                          static_cast<uInt>(input.size())));
  // Room for the worst case plus the flush marker; grown if ever short.
  chunk.output.resize(deflateBound(&stream, static_cast<uLong>(input.size())) + 16);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  stream.avail_in = static_cast<uInt>(input.size());
  const int flush = chunk.last ? Z_FINISH : Z_SYNC_FLUSH;
  size_t produced = 0;
  while (true) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk.output.data() + produced);
    stream.avail_out = static_cast<uInt>(chunk.output.size() - produced);
    code = deflate(&stream, flush);
    produced = chunk.output.size() - stream.avail_out;
    if (code == Z_STREAM_ERROR) {
      chunk.status = code;
      return;
    }
    // Done when finished (Z_FINISH), or when all input is taken and the
    // flush left room to spare (Z_SYNC_FLUSH).
    if (chunk.last ? code == Z_STREAM_END : stream.avail_in == 0 && stream.avail_out > 0)
      break;
    chunk.output.resize(chunk.output.size() * 2);
  }
  chunk.output.resize(produced);
}

}  // namespace lorebox
