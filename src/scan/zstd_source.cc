// Streaming zstd decompression for compressed transcripts (.jsonl.zst).
// Frames may follow one another; the data must end exactly at the end of a
// frame, so a file cut short reads as an error after the bytes that did
// decode.
#include <vector>

#include <zstd.h>

#include "scan/line_reader.h"

namespace lorebox {
namespace {

class ZstdSource : public ByteSource {
 public:
  explicit ZstdSource(std::unique_ptr<ByteSource> compressed)
      : compressed_(std::move(compressed)),
        stream_(ZSTD_createDStream()),
        input_(ZSTD_DStreamInSize()) {
    if (stream_ == nullptr || ZSTD_isError(ZSTD_initDStream(stream_))) {
      failed_ = true;
    }
  }
  ~ZstdSource() override { ZSTD_freeDStream(stream_); }
  ZstdSource(const ZstdSource&) = delete;
  ZstdSource& operator=(const ZstdSource&) = delete;

  ptrdiff_t read(char* buffer, size_t size) override {
    while (!failed_) {
      if (in_.pos == in_.size && !input_done_) refill();
      if (failed_) break;
      ZSTD_outBuffer out{buffer, size, 0};
      size_t consumed_before = in_.pos;
      size_t hint = ZSTD_decompressStream(stream_, &out, &in_);
      if (ZSTD_isError(hint)) break;
      // A call that moved nothing (at the end of the data) says nothing
      // about whether a frame is complete.
      if (in_.pos != consumed_before || out.pos > 0) frame_complete_ = hint == 0;
      if (out.pos > 0) return static_cast<ptrdiff_t>(out.pos);
      if (input_done_ && in_.pos == in_.size) {
        if (frame_complete_) return 0;
        break;  // the data stopped inside a frame
      }
    }
    failed_ = true;
    return -1;
  }

 private:
  void refill() {
    ptrdiff_t count = compressed_->read(input_.data(), input_.size());
    if (count < 0) {
      failed_ = true;
    } else if (count == 0) {
      input_done_ = true;
      in_ = ZSTD_inBuffer{input_.data(), 0, 0};
    } else {
      in_ = ZSTD_inBuffer{input_.data(), static_cast<size_t>(count), 0};
    }
  }

  std::unique_ptr<ByteSource> compressed_;
  ZSTD_DStream* stream_;
  std::vector<char> input_;
  ZSTD_inBuffer in_{nullptr, 0, 0};
  bool input_done_ = false;
  bool frame_complete_ = true;  // no frame started yet
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<ByteSource> make_zstd_source(std::unique_ptr<ByteSource> compressed) {
  return std::make_unique<ZstdSource>(std::move(compressed));
}

}  // namespace lorebox
