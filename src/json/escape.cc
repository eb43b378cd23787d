// The escaper's speed matters: every output string and every tool input
// or result that is measured passes through it. Plain bytes are stepped
// over eight at a time, and escapes are counted 32 bytes at a time.
#include "json/escape.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace lorebox::json {
namespace {

// Extra bytes the escaped form of each byte needs.
constexpr std::array<uint8_t, 256> make_escape_extra() {
  std::array<uint8_t, 256> extra{};
  for (int c = 0; c < 0x20; ++c) extra[c] = 5;  // \u00xx
  for (unsigned char c : {'\b', '\t', '\n', '\f', '\r', '"', '\\'}) extra[c] = 1;
  return extra;
}
constexpr std::array<uint8_t, 256> kEscapeExtra = make_escape_extra();

// True when none of the eight bytes of `word` needs escaping: none is below
// 0x20, a quotation mark or a backslash.
bool plain_word(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHighs = 0x8080808080808080ULL;
  uint64_t below_space = (word - kOnes * 0x20) & ~word;
  uint64_t quote = word ^ (kOnes * '"');
  uint64_t backslash = word ^ (kOnes * '\\');
  uint64_t has_quote = (quote - kOnes) & ~quote;
  uint64_t has_backslash = (backslash - kOnes) & ~backslash;
  return ((below_space | has_quote | has_backslash) & kHighs) == 0;
}

// Length of the leading run of bytes that are written as they are.
size_t plain_prefix(std::string_view text) {
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    if (!plain_word(word)) break;
  }
  while (i < text.size() && kEscapeExtra[static_cast<unsigned char>(text[i])] == 0) {
    ++i;
  }
  return i;
}

// The bytes are classified 32 at a time with vector compares; each lane of
// the counters takes at most 255 blocks before it is added up. For
// processors without AVX2.
uint64_t escape_extra_portable(std::string_view text) {
  typedef uint8_t Bytes __attribute__((vector_size(32)));
  constexpr size_t kWidth = sizeof(Bytes);
  constexpr size_t kBlocksPerCount = 255;
  uint64_t extra = 0;
  size_t i = 0;
  while (text.size() - i >= kWidth) {
    Bytes quotes = {};    // '"' and '\\': one extra byte
    Bytes controls = {};  // below 0x20: five extra bytes (\u00xx) ...
    Bytes shorts = {};    // ... except \b \t \n \f \r, one extra byte
    size_t blocks = std::min((text.size() - i) / kWidth, kBlocksPerCount);
    for (size_t b = 0; b < blocks; ++b, i += kWidth) {
      Bytes v;
      std::memcpy(&v, text.data() + i, kWidth);
      quotes -= (Bytes)((v == '"') | (v == '\\'));
      controls -= (Bytes)(v < 0x20);
      shorts -= (Bytes)(((Bytes)(v - 8) < 6) & (v != 11));
    }
    for (size_t lane = 0; lane < kWidth; ++lane) {
      extra += quotes[lane] + 5u * controls[lane] - 4u * shorts[lane];
    }
  }
  for (; i < text.size(); ++i) extra += kEscapeExtra[static_cast<unsigned char>(text[i])];
  return extra;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define LOREBOX_ESCAPE_AVX2 1

// With AVX2, each byte's extra length is looked up rather than compared
// out: its low and its high four bits each select a set of classes from a
// table (vpshufb), the class both sets share picks the extra length from a
// third table, and the one class the nibbles cannot single out, the
// backslash, is compared directly. Classes (one bit each):
//   1  below 0x10 and one of \b \t \n \f \r       one extra byte
//   2  another byte below 0x20                     five (\u00xx)
//   4  0x18 0x19 0x1A 0x1C 0x1D                    five
//   8  the quotation mark                          one
// Bytes from 0x80 up match nothing: vpshufb gives 0 for them. This gives
// the extra length of each of 32 bytes.
__attribute__((target("avx2"))) inline __m256i extra_of_bytes(__m256i v) {
  const __m256i low_classes = _mm256_setr_epi8(         //
      2, 2, 10, 2, 2, 2, 2, 2, 5, 5, 5, 2, 5, 5, 2, 2,  //
      2, 2, 10, 2, 2, 2, 2, 2, 5, 5, 5, 2, 5, 5, 2, 2);
  const __m256i high_classes = _mm256_setr_epi8(       //
      3, 6, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
      3, 6, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i extra_of_class = _mm256_setr_epi8(     //
      0, 1, 5, 0, 5, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,  //
      0, 1, 5, 0, 5, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0);
  const __m256i high = _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
  const __m256i classes = _mm256_and_si256(_mm256_shuffle_epi8(low_classes, v),
                                           _mm256_shuffle_epi8(high_classes, high));
  return _mm256_sub_epi8(_mm256_shuffle_epi8(extra_of_class, classes),
                         _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\')));
}

__attribute__((target("avx2"))) inline __m256i load32(const char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// 32 zero bytes, then 32 bytes 0xFF: the 32 bytes from offset n keep the
// last n lanes of a block.
alignas(64) constexpr uint8_t kLastLanes[64] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

__attribute__((target("avx2"))) uint64_t escape_extra_avx2(std::string_view text) {
  const size_t size = text.size();
  if (size < 32) {
    uint64_t extra = 0;
    for (char c : text) extra += kEscapeExtra[static_cast<unsigned char>(c)];
    return extra;
  }
  const char* data = text.data();
  const __m256i zero = _mm256_setzero_si256();
  // A byte counter takes at most 5 per block, so at most 51 blocks go into
  // each of the two before they are summed into 64-bit lanes.
  constexpr size_t kBlocksPerCount = 51;
  __m256i sums = zero;
  size_t i = 0;
  while (size - i >= 64) {
    __m256i even = zero;
    __m256i odd = zero;
    size_t pairs = std::min((size - i) / 64, kBlocksPerCount);
    for (size_t p = 0; p < pairs; ++p, i += 64) {
      even = _mm256_add_epi8(even, extra_of_bytes(load32(data + i)));
      odd = _mm256_add_epi8(odd, extra_of_bytes(load32(data + i + 32)));
    }
    sums = _mm256_add_epi64(sums, _mm256_sad_epu8(even, zero));
    sums = _mm256_add_epi64(sums, _mm256_sad_epu8(odd, zero));
  }
  if (size - i >= 32) {
    sums =
        _mm256_add_epi64(sums, _mm256_sad_epu8(extra_of_bytes(load32(data + i)), zero));
    i += 32;
  }
  // The last bytes: the block that ends with them, counting only its
  // lanes not counted yet.
  if (const size_t rest = size - i; rest > 0) {
    const __m256i keep = load32(reinterpret_cast<const char*>(kLastLanes) + rest);
    const __m256i last = _mm256_and_si256(extra_of_bytes(load32(data + size - 32)), keep);
    sums = _mm256_add_epi64(sums, _mm256_sad_epu8(last, zero));
  }
  uint64_t lanes[4];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), sums);
  return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}
#endif

}  // namespace

uint64_t escape_extra(std::string_view text) {
#ifdef LOREBOX_ESCAPE_AVX2
  static const bool kHasAvx2 = __builtin_cpu_supports("avx2");
  if (kHasAvx2) return escape_extra_avx2(text);
#endif
  return escape_extra_portable(text);
}

void write_escaped(std::string_view text, char* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  while (!text.empty()) {
    size_t run = plain_prefix(text);
    std::memcpy(out, text.data(), run);
    out += run;
    text.remove_prefix(run);
    if (text.empty()) break;
    unsigned char c = static_cast<unsigned char>(text.front());
    text.remove_prefix(1);
    char escaped = 0;
    switch (c) {
      case '"':
        escaped = '"';
        break;
      case '\\':
        escaped = '\\';
        break;
      case '\b':
        escaped = 'b';
        break;
      case '\f':
        escaped = 'f';
        break;
      case '\n':
        escaped = 'n';
        break;
      case '\r':
        escaped = 'r';
        break;
      case '\t':
        escaped = 't';
        break;
      default: {
        const char unicode[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        std::memcpy(out, unicode, sizeof unicode);
        out += sizeof unicode;
        continue;
      }
    }
    out[0] = '\\';
    out[1] = escaped;
    out += 2;
  }
}

void append_escaped(std::string_view text, std::string* out) {
  const uint64_t extra = escape_extra(text);
  if (extra == 0) {
    out->append(text);
    return;
  }
  const size_t at = out->size();
  out->resize(at + text.size() + extra);
  write_escaped(text, out->data() + at);
}

}  // namespace lorebox::json
