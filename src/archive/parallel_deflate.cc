// Each chunk is compressed by an ISA-L deflate stream that belongs to the
// thread running it (started afresh for every chunk; its level buffer is
// allocated once per thread): the stream is given the 32 KiB of input before
// the chunk with isal_deflate_set_dict, so matches may reach back across the
// chunk's start as they would in one stream, then the chunk with SYNC_FLUSH,
// which ends it on a byte boundary after an empty stored block, with no
// final block; the last chunk is ended with end_of_stream instead. A
// FULL_FLUSH would gain nothing: each chunk starts a fresh stream anyway.
//
// ISA-L's level 3 compresses this kind of text about ten times as fast as
// zlib's level 6, for output some 5 to 6 % larger; its levels 1 and 2 are
// barely faster and several percent larger again. The level buffer size
// (ISA-L's default for the level) makes no measurable difference at this
// chunk size.
//
// The CRC-32 of each chunk is computed on its thread with ISA-L's
// crc32_gzip_refl (the same CRC as zlib's crc32, an order of magnitude
// faster where the processor has carry-less multiplication) and joined in
// order with zlib's crc32_combine.
#include "archive/parallel_deflate.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
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
constexpr uint32_t kLevel = 3;
constexpr uint32_t kLevelBufferSize = ISAL_DEF_LVL3_DEFAULT;
constexpr std::chrono::milliseconds kWaitSlice(1000);

std::string encoder_reason(int code) {
  switch (code) {
    case INVALID_FLUSH:
      return "invalid flush";
    case ISAL_INVALID_LEVEL:
      return "invalid level";
    case ISAL_INVALID_LEVEL_BUF:
      return "level buffer too small";
    case ISAL_INVALID_STATE:
      return "invalid state";
    default:
      return fmt::format("error {}", code);
  }
}

Error compression_failure(int code) {
  return Fail(fmt::format("compression failed ({})", encoder_reason(code)));
}

}  // namespace

// A chunk's buffers keep their capacity from one use to the next.
struct ParallelDeflate::Chunk {
  std::string input;
  std::string dictionary;  // the input just before this chunk, up to 32 KiB
  bool last = false;
  // Written by the thread that compresses it.
  std::string output;  // its first output_size bytes
  size_t output_size = 0;
  uint32_t crc = 0;
  int status = COMP_OK;
  std::exception_ptr error;
  std::atomic<bool> done = false;  // stored last
};

struct ParallelDeflate::Encoder {
  isal_zstream stream{};
  std::unique_ptr<uint8_t[]> level_buffer{new uint8_t[kLevelBufferSize]};
};

ParallelDeflate::ParallelDeflate(WorkerPool* pool, Sink& out) : out_(out) {
  const size_t workers = pool != nullptr ? pool->size() : 0;
  max_chunks_ = kChunksPerWorker * std::max<size_t>(workers, 1);
  encoders_.resize(workers + 1);
  if (workers > 0) tasks_.emplace(*pool);
  pending_.reserve(kChunkSize);
}

ParallelDeflate::~ParallelDeflate() {
  if (tasks_) tasks_->wait_all();
}

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
  std::unique_ptr<Chunk> chunk;
  if (spare_.empty()) {
    chunk = std::make_unique<Chunk>();
  } else {
    chunk = std::move(spare_.back());
    spare_.pop_back();
  }
  // The chunk takes the input; pending_ takes the chunk's old buffer.
  chunk->input.clear();
  chunk->input.swap(pending_);
  chunk->dictionary = dictionary_;
  chunk->last = last;
  chunk->status = COMP_OK;
  chunk->error = nullptr;
  chunk->done.store(false, std::memory_order_relaxed);
  const std::string& input = chunk->input;
  if (input.size() >= kWindow) {
    dictionary_.assign(input, input.size() - kWindow, kWindow);
  } else {
    dictionary_ += input;
    if (dictionary_.size() > kWindow) dictionary_.erase(0, dictionary_.size() - kWindow);
  }
  if (!last) pending_.reserve(kChunkSize);

  Chunk* task_chunk = chunk.get();
  chunks_.push_back(std::move(chunk));
  auto task = [this, task_chunk](size_t slot) {
    try {
      compress(*task_chunk, slot);
    } catch (...) {
      task_chunk->error = std::current_exception();
    }
    task_chunk->done.store(true, std::memory_order_release);
  };
  if (tasks_) {
    tasks_->submit(task);
  } else {
    task(encoders_.size() - 1);  // no workers: the calling thread's encoder
  }
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
    while (!tasks_->wait_until(done, kWaitSlice)) {
    }
  }
  if (chunk.error) std::rethrow_exception(chunk.error);
  if (chunk.status != COMP_OK) return compression_failure(chunk.status);
  crc_ = static_cast<uint32_t>(
      crc32_combine(crc_, chunk.crc, static_cast<z_off_t>(chunk.input.size())));
  size_ += chunk.input.size();
  Result<void> written =
      out_.write(std::string_view(chunk.output).substr(0, chunk.output_size));
  spare_.push_back(std::move(chunks_.front()));
  chunks_.pop_front();
  return written;
}

void ParallelDeflate::compress(Chunk& chunk, size_t slot) {
  std::unique_ptr<Encoder>& encoder = encoders_[slot];
  if (!encoder) encoder = std::make_unique<Encoder>();
  isal_zstream& stream = encoder->stream;
  isal_deflate_init(&stream);
  stream.level = kLevel;
  stream.level_buf = encoder->level_buffer.get();
  stream.level_buf_size = kLevelBufferSize;
  stream.flush = chunk.last ? NO_FLUSH : SYNC_FLUSH;
  stream.end_of_stream = chunk.last ? 1 : 0;
  std::string& dictionary = chunk.dictionary;
  if (!dictionary.empty()) {
    const int code =
        isal_deflate_set_dict(&stream, reinterpret_cast<uint8_t*>(dictionary.data()),
                              static_cast<uint32_t>(dictionary.size()));
    if (code != COMP_OK) {
      chunk.status = code;
      return;
    }
  }

  std::string& input = chunk.input;
  const auto* data = reinterpret_cast<const unsigned char*>(input.data());
  chunk.crc = crc32_gzip_refl(0, data, input.size());
  // Room for stored blocks' worst case plus the flush marker; grown if
  // ever short.
  const size_t room = input.size() + input.size() / 16 + 1024;
  if (chunk.output.size() < room) chunk.output.resize(room);
  stream.next_in = reinterpret_cast<uint8_t*>(input.data());
  stream.avail_in = static_cast<uint32_t>(input.size());
  size_t produced = 0;
  while (true) {
    stream.next_out = reinterpret_cast<uint8_t*>(chunk.output.data() + produced);
    stream.avail_out = static_cast<uint32_t>(chunk.output.size() - produced);
    const int code = isal_deflate(&stream);
    produced = chunk.output.size() - stream.avail_out;
    if (code != COMP_OK) {
      chunk.status = code;
      return;
    }
    // Done when finished (last chunk), or when all input is taken and the
    // flush left room to spare.
    if (chunk.last ? stream.internal_state.state == ZSTATE_END
                   : stream.avail_in == 0 && stream.avail_out > 0)
      break;
    if (stream.avail_out > 0) {
      // Room left yet not done: the encoder is in a state it should never be.
      chunk.status = ISAL_INVALID_STATE;
      return;
    }
    chunk.output.resize(chunk.output.size() * 2);
  }
  chunk.output_size = produced;
}

}  // namespace lorebox
