#include "docsec/platform/byte_sums.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace docsec {
namespace {

// Sums of the bytes [begin, size) with weights counted from 0 at data[0].
void AddScalar(const uint8_t* data, size_t begin, size_t size, uint32_t* plain,
               uint32_t* weighted) {
  uint32_t p = 0;
  uint32_t w = 0;
  for (size_t j = begin; j < size; ++j) {
    p += data[j];
    w += static_cast<uint32_t>(j) * data[j];
  }
  *plain += p;
  *weighted += w;
}

}  // namespace

ByteSums SumBytes(const uint8_t* data, size_t size) {
  ByteSums sums;
  size_t done = 0;
#if defined(__SSE2__)
  // Chunks of 64 bytes. With X_c the plain sum of chunk c and k the offset inside a chunk,
  //   sum j*d[j] = 64 * sum_c c*X_c + sum_k k * d[64c+k].
  // The second term is a multiply-add against constant weights 0..63 (pmaddwd on the bytes
  // widened to 16 bits). For the first, s1 runs over the chunk sums and s2 over s1 (as in
  // Adler-32): after n chunks s2 = sum_c (n - c) X_c, so sum_c c*X_c = n*S - s2. Everything is
  // wrapping arithmetic, so truncating the 64-bit results to 32 bits gives the sums modulo 2^32.
  constexpr size_t kChunk = 64;
  const size_t chunks = size / kChunk;
  if (chunks > 0) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i w0 = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    const __m128i w1 = _mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i step16 = _mm_set1_epi16(16);
    const __m128i w2 = _mm_add_epi16(w0, step16), w3 = _mm_add_epi16(w1, step16);
    const __m128i w4 = _mm_add_epi16(w2, step16), w5 = _mm_add_epi16(w3, step16);
    const __m128i w6 = _mm_add_epi16(w4, step16), w7 = _mm_add_epi16(w5, step16);
    __m128i s1 = zero;     // two 64-bit lanes
    __m128i s2 = zero;     // two 64-bit lanes
    __m128i inner = zero;  // four 32-bit lanes, wrapping
    const uint8_t* p = data;
    for (size_t c = 0; c < chunks; ++c, p += kChunk) {
      __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
      __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
      __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
      __m128i chunk_sum =
          _mm_add_epi64(_mm_add_epi64(_mm_sad_epu8(a, zero), _mm_sad_epu8(b, zero)),
                        _mm_add_epi64(_mm_sad_epu8(e, zero), _mm_sad_epu8(f, zero)));
      s1 = _mm_add_epi64(s1, chunk_sum);
      s2 = _mm_add_epi64(s2, s1);
      __m128i m0 = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(a, zero), w0),
                                 _mm_madd_epi16(_mm_unpackhi_epi8(a, zero), w1));
      __m128i m1 = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(b, zero), w2),
                                 _mm_madd_epi16(_mm_unpackhi_epi8(b, zero), w3));
      __m128i m2 = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(e, zero), w4),
                                 _mm_madd_epi16(_mm_unpackhi_epi8(e, zero), w5));
      __m128i m3 = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(f, zero), w6),
                                 _mm_madd_epi16(_mm_unpackhi_epi8(f, zero), w7));
      inner = _mm_add_epi32(inner, _mm_add_epi32(_mm_add_epi32(m0, m1), _mm_add_epi32(m2, m3)));
    }
    alignas(16) uint64_t s1_lanes[2];
    alignas(16) uint64_t s2_lanes[2];
    alignas(16) uint32_t inner_lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(s1_lanes), s1);
    _mm_store_si128(reinterpret_cast<__m128i*>(s2_lanes), s2);
    _mm_store_si128(reinterpret_cast<__m128i*>(inner_lanes), inner);
    uint64_t total = s1_lanes[0] + s1_lanes[1];
    uint64_t running = s2_lanes[0] + s2_lanes[1];
    uint64_t by_chunk = static_cast<uint64_t>(chunks) * total - running;
    uint32_t in_chunk = inner_lanes[0] + inner_lanes[1] + inner_lanes[2] + inner_lanes[3];
    sums.plain = static_cast<uint32_t>(total);
    sums.weighted = static_cast<uint32_t>(kChunk * by_chunk) + in_chunk;
    done = chunks * kChunk;
  }
#endif
  AddScalar(data, done, size, &sums.plain, &sums.weighted);
  return sums;
}

}  // namespace docsec
