#include "SHAex.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "foundation/RegularFile.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define CSHA1_HAVE_SHA_EXTENSIONS 1
#endif

namespace {

constexpr uint32_t kInitialState[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                                       0xC3D2E1F0u};

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void StoreBigEndian(uint32_t v, uint8_t* p) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// Step T of the compression. The five working variables live in v[]; instead of shifting them
// after every step, the roles a..e rotate through v[] by one place per step, so that after 80
// steps a..e are back at v[0..4]. All indices are constants, which lets v[] live in registers.
template <int T>
[[gnu::always_inline]] inline void Step(uint32_t (&v)[5], uint32_t* w) {
  uint32_t& a = v[(80 - T) % 5];
  uint32_t& b = v[(81 - T) % 5];
  uint32_t& c = v[(82 - T) % 5];
  uint32_t& d = v[(83 - T) % 5];
  uint32_t& e = v[(84 - T) % 5];

  uint32_t word;
  if constexpr (T < 16) {
    word = w[T];
  } else {
    word = std::rotl(w[(T - 3) & 15] ^ w[(T - 8) & 15] ^ w[(T - 14) & 15] ^ w[T & 15], 1);
    w[T & 15] = word;
  }

  uint32_t f;
  uint32_t k;
  if constexpr (T < 20) {
    f = d ^ (b & (c ^ d));
    k = 0x5A827999u;
  } else if constexpr (T < 40) {
    f = b ^ c ^ d;
    k = 0x6ED9EBA1u;
  } else if constexpr (T < 60) {
    f = (b & c) + (d & (b ^ c));
    k = 0x8F1BBCDCu;
  } else {
    f = b ^ c ^ d;
    k = 0xCA62C1D6u;
  }

  e += std::rotl(a, 5) + f + k + word;
  b = std::rotl(b, 30);
}

template <int... T>
[[gnu::always_inline]] inline void AllSteps(uint32_t (&v)[5], uint32_t* w,
                                            std::integer_sequence<int, T...>) {
  (Step<T>(v, w), ...);
}

#if CSHA1_HAVE_SHA_EXTENSIONS

// True when the processor has the SHA extensions and the SSSE3 and SSE4.1 instructions the
// compression below also uses.
bool ProcessorHasShaExtensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool ssse3 = (ecx & bit_SSSE3) != 0, sse41 = (ecx & bit_SSE4_1) != 0;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  return ssse3 && sse41 && (ebx & bit_SHA) != 0;
}

// Four steps of the compression with the processor's SHA instructions. `Group` (0..19) is the
// step number divided by four; `w` holds the schedule words of the last four groups, group g in
// w[g % 4]; `previous` is the a..d of the group before.
template <int Group>
[[gnu::always_inline, gnu::target("sha,sse4.1,ssse3")]] inline void ShaGroup(
    __m128i& abcd, __m128i& e, __m128i& previous, __m128i (&w)[4], const uint8_t* block,
    __m128i byteOrder) {
  constexpr int kSlot = Group % 4;
  if constexpr (Group < 4) {
    w[kSlot] = _mm_shuffle_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * Group)), byteOrder);
  } else {
    // W[t] = rotl(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16], 1), four words at a time.
    w[kSlot] = _mm_sha1msg2_epu32(
        _mm_xor_si128(_mm_sha1msg1_epu32(w[kSlot], w[(Group + 1) % 4]), w[(Group + 2) % 4]),
        w[(Group + 3) % 4]);
  }
  const __m128i input =
      Group == 0 ? _mm_add_epi32(e, w[kSlot]) : _mm_sha1nexte_epu32(previous, w[kSlot]);
  previous = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, input, Group / 5);
}

template <int... Group>
[[gnu::always_inline, gnu::target("sha,sse4.1,ssse3")]] inline void ShaGroups(
    __m128i& abcd, __m128i& e, __m128i& previous, __m128i (&w)[4], const uint8_t* block,
    __m128i byteOrder, std::integer_sequence<int, Group...>) {
  (ShaGroup<Group>(abcd, e, previous, w, block, byteOrder), ...);
}

// Compresses `blocks` consecutive 64-byte blocks into `state` with the SHA instructions. The
// result is the same as Transform's, block by block; the scratch block is not used.
[[gnu::target("sha,sse4.1,ssse3")]] void CompressWithShaExtensions(uint32_t* state,
                                                                   const uint8_t* data,
                                                                   std::size_t blocks) {
  // Big-endian words, and a..d with a in the highest lane, as the instructions want them.
  const __m128i byteOrder = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abcdBefore = abcd, eBefore = e;
    __m128i previous = abcd;
    __m128i w[4];
    ShaGroups(abcd, e, previous, w, data, byteOrder, std::make_integer_sequence<int, 20>{});
    // After step 80, e is a of step 76 rotated by 30: the a of the group before.
    e = _mm_sha1nexte_epu32(previous, eBefore);
    abcd = _mm_add_epi32(abcd, abcdBefore);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

#endif  // CSHA1_HAVE_SHA_EXTENSIONS

}  // namespace

CSHA1::CSHA1() : _block(_scratch) { Reset(); }

CSHA1::~CSHA1() { Reset(); }

void CSHA1::Reset() {
  std::memcpy(_state, kInitialState, sizeof(_state));
  _count[0] = 0;
  _count[1] = 0;
}

void CSHA1::Transform(uint32_t* state, const uint8_t* block) {
  uint32_t* w = _block;
  for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(block + 4 * i);

  uint32_t v[5] = {state[0], state[1], state[2], state[3], state[4]};
  AllSteps(v, w, std::make_integer_sequence<int, 80>{});

  state[0] += v[0];
  state[1] += v[1];
  state[2] += v[2];
  state[3] += v[3];
  state[4] += v[4];
}

void CSHA1::Update(const uint8_t* data, uint32_t length) {
  if (data == nullptr || length == 0) return;

  uint32_t used = (_count[0] >> 3) & 63;
  const uint32_t low = _count[0] + (length << 3);
  if (low < _count[0]) ++_count[1];
  _count[0] = low;
  _count[1] += length >> 29;

  uint32_t done = 0;
  if (uint64_t{used} + length >= 64) {
    done = 64 - used;
    std::memcpy(_buffer + used, data, done);
    Transform(_state, _buffer);
#if CSHA1_HAVE_SHA_EXTENSIONS
    static const bool s_shaExtensions = ProcessorHasShaExtensions();
    const std::size_t blocks = (length - done) / 64;
    if (s_shaExtensions && blocks > 0) {
      CompressWithShaExtensions(_state, data + done, blocks);
      done += static_cast<uint32_t>(blocks * 64);
    }
#endif
    while (length - done >= 64) {
      Transform(_state, data + done);
      done += 64;
    }
    used = 0;
  }
  std::memcpy(_buffer + used, data + done, length - done);
}

bool CSHA1::HashFile(const char* path) {
  if (path == nullptr) return false;
  // A FIFO or device in place of the file is refused without blocking.
  foundation::FileDescriptor file = foundation::openRegularFile(path);
  if (!file) return false;
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return false;

  // The bytes the file held when it was opened; whatever is appended meanwhile is not read.
  auto left = static_cast<uint64_t>(status.st_size);
  std::unique_ptr<uint8_t[]> chunk(new uint8_t[kFileChunkSize]);
  while (left > 0) {
    const auto wanted = static_cast<std::size_t>(std::min<uint64_t>(left, kFileChunkSize));
    const ssize_t got = ::read(file.get(), chunk.get(), wanted);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;  // the file was shortened meanwhile
    Update(chunk.get(), static_cast<uint32_t>(got));
    left -= static_cast<uint64_t>(got);
  }
  return true;
}

void CSHA1::Final() {
  uint8_t count[8];
  StoreBigEndian(_count[1], count);
  StoreBigEndian(_count[0], count + 4);

  const uint8_t one = 0x80;
  const uint8_t zero = 0x00;
  Update(&one, 1);
  while ((_count[0] & 511) != 448) Update(&zero, 1);
  Update(count, 8);

  for (int i = 0; i < 5; ++i) StoreBigEndian(_state[i], _digest + 4 * i);

  std::memset(_buffer, 0, sizeof(_buffer));
  std::memset(_state, 0, sizeof(_state));
  _count[0] = 0;
  _count[1] = 0;
  // Leaves the scratch block holding the schedule of a zero block rather than of the message.
  Transform(_state, _buffer);
}

bool CSHA1::ReportHash(char* out, REPORT_TYPE type) const {
  if (out == nullptr) return false;
  const char* first;
  const char* rest;
  switch (type) {
    case REPORT_HEX_SPACED:
      first = "%02X";
      rest = " %02X";
      break;
    case REPORT_DECIMAL:
      first = "%u";
      rest = " %u";
      break;
    case REPORT_HEX_PLAIN:
      first = "%02X";
      rest = "%02X";
      break;
    default:
      return false;
  }

  char text[kReportBufferSize];
  std::size_t length = 0;
  for (std::size_t i = 0; i < kDigestSize; ++i) {
    const int written = std::snprintf(text + length, sizeof(text) - length, i == 0 ? first : rest,
                                      static_cast<unsigned>(_digest[i]));
    length += static_cast<std::size_t>(written);
  }
  std::memcpy(out, text, length + 1);
  return true;
}

bool CSHA1::ReportHashStl(std::string& out, REPORT_TYPE type) const {
  char text[kReportBufferSize];
  if (!ReportHash(text, type)) return false;
  out.assign(text);
  return true;
}

bool CSHA1::GetHash(uint8_t* out) const {
  if (out == nullptr) return false;
  std::memcpy(out, _digest, kDigestSize);
  return true;
}
