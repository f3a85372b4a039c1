#include "core/sha256.h"

#include <cpuid.h>
#include <immintrin.h>

#include <cstring>

namespace {

alignas(16) constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// The processor's SHA instructions take four rounds in two steps, with the
// state held as ABEF and CDGH; bcrypt under wine hashes five to ten times
// slower, which a copy of large files would feel.
__attribute__((target("sha,sse4.1,ssse3"))) void HashBlocks(uint32_t state[8], const uint8_t* data, size_t blocks) {
  const __m128i byteOrder = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
  for (; blocks; --blocks, data += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    __m128i words[4];
    for (int i = 0; i < 4; ++i)
      words[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteOrder);
    for (int group = 0; group < 16; ++group) {
      __m128i sum =
          _mm_add_epi32(words[group & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * group)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, sum);
      sum = _mm_shuffle_epi32(sum, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, sum);
      if (group < 12) {
        // The words four groups on, from the four groups now held.
        __m128i next = _mm_sha256msg1_epu32(words[group & 3], words[(group + 1) & 3]);
        next = _mm_add_epi32(next, _mm_alignr_epi8(words[(group + 3) & 3], words[(group + 2) & 3], 4));
        words[group & 3] = _mm_sha256msg2_epu32(next, words[(group + 3) & 3]);
      }
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  dcba = _mm_blend_epi16(feba, dchg, 0xF0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

bool ProcessorHashes() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1)) return false;
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
}

// The own rounds serve only once they give bcrypt's digest of a few texts.
bool OwnRoundsAgree();

bool UseOwnRounds() {
  static const bool use = ProcessorHashes() && OwnRoundsAgree();
  return use;
}

}  // namespace

void Sha256Hasher::OwnAdd(const uint8_t* bytes, size_t size) {
  total_ += size;
  if (pending_) {
    const size_t take = size < 64 - pending_ ? size : 64 - pending_;
    memcpy(block_ + pending_, bytes, take);
    pending_ += take;
    bytes += take;
    size -= take;
    if (pending_ < 64) return;
    HashBlocks(state_, block_, 1);
    pending_ = 0;
  }
  HashBlocks(state_, bytes, size / 64);
  memcpy(block_, bytes + size / 64 * 64, size % 64);
  pending_ = size % 64;
}

void Sha256Hasher::OwnFinish(Sha256* digest) {
  const uint64_t bits = total_ * 8;
  uint8_t tail[128] = {};
  memcpy(tail, block_, pending_);
  tail[pending_] = 0x80;
  const size_t length = pending_ < 56 ? 64 : 128;
  for (int i = 0; i < 8; ++i) tail[length - 1 - i] = uint8_t(bits >> (8 * i));
  HashBlocks(state_, tail, length / 64);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 4; ++j) digest->bytes[4 * i + j] = uint8_t(state_[i] >> (24 - 8 * j));
}

bool Sha256Hasher::Start() {
  own_ = UseOwnRounds();
  return Restart();
}

bool Sha256Hasher::Restart() {
  hash_.reset();
  if (own_) {
    memcpy(state_, kInitial, sizeof state_);
    total_ = pending_ = 0;
    started_ = true;
    return true;
  }
  if (!algorithm_ && BCryptOpenAlgorithmProvider(algorithm_.out(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
    return false;
  return BCryptCreateHash(algorithm_.get(), hash_.out(), nullptr, 0, nullptr, 0, 0) == 0;
}

bool Sha256Hasher::Add(const void* bytes, DWORD size) {
  if (own_) {
    if (started_) OwnAdd(static_cast<const uint8_t*>(bytes), size);
    return started_;
  }
  return hash_ && BCryptHashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(bytes)), size, 0) == 0;
}

bool Sha256Hasher::Finish(Sha256* digest) {
  if (own_) {
    if (started_) OwnFinish(digest);
    const bool done = started_;
    started_ = false;
    return done;
  }
  const bool done = hash_ && BCryptFinishHash(hash_.get(), digest->bytes, sizeof digest->bytes, 0) == 0;
  hash_.reset();
  return done;
}

namespace {

bool OwnRoundsAgree() {
  // Lengths around the block and padding edges, and several blocks at once.
  uint8_t text[300];
  for (size_t i = 0; i < sizeof text; ++i) text[i] = uint8_t(i * 131 + 7);
  for (DWORD length : {0u, 3u, 55u, 56u, 63u, 64u, 65u, 119u, 128u, 300u}) {
    Sha256Hasher own, system;
    Sha256 a, b;
    own.ForceOwn(true);
    system.ForceOwn(false);
    if (!own.Restart() || !own.Add(text, length / 2) || !own.Add(text + length / 2, length - length / 2) ||
        !own.Finish(&a) || !system.Restart() || !system.Add(text, length) || !system.Finish(&b) || !(a == b))
      return false;
  }
  return true;
}

}  // namespace
