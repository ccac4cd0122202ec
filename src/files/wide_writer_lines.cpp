#include "files/wide_writer_lines.h"

#include <array>
#include <atomic>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define FC_WIDE_WRITER_LINES 1
#endif

namespace fc {

namespace {

#if defined(FC_WIDE_WRITER_LINES)

// Index vectors for moving every byte `k` places up within the 64.
constexpr std::array<uint8_t, 64> ShiftUp(unsigned k) {
  std::array<uint8_t, 64> index{};
  for (unsigned i = 0; i < 64; ++i) index[i] = static_cast<uint8_t>((i - k) & 63);
  return index;
}

alignas(64) constexpr std::array<uint8_t, 64> kUp3 = ShiftUp(3);
alignas(64) constexpr std::array<uint8_t, 64> kUp4 = ShiftUp(4);
alignas(64) constexpr std::array<uint8_t, 64> kUp5 = ShiftUp(5);

// 100 times a hundreds digit, as a byte, in each 16-byte lane for a byte shuffle (only 0 to 2
// are ever kept).
constexpr std::array<uint8_t, 64> HundredsOf() {
  std::array<uint8_t, 64> table{};
  for (unsigned i = 0; i < 64; ++i) table[i] = static_cast<uint8_t>(100 * (i % 16));
  return table;
}

alignas(64) constexpr std::array<uint8_t, 64> kHundredsOf = HundredsOf();

__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,popcnt,lzcnt"))) std::size_t
TakeWide(const char*& q, const char* end, uint8_t* out, std::size_t max) {
  const __m512i feed = _mm512_set1_epi8('\n');
  const __m512i carriage = _mm512_set1_epi8('\r');
  const __m512i blank = _mm512_set1_epi8(' ');
  const __m512i zero_digit = _mm512_set1_epi8('0');
  const __m512i nine = _mm512_set1_epi8(9);
  const __m512i two = _mm512_set1_epi8(2);
  const __m512i fifty_five = _mm512_set1_epi8(55);
  const __m512i up3 = _mm512_load_si512(kUp3.data());
  const __m512i up4 = _mm512_load_si512(kUp4.data());
  const __m512i up5 = _mm512_load_si512(kUp5.data());
  const __m512i hundreds_of = _mm512_load_si512(kHundredsOf.data());
  std::size_t taken = 0;
  while (end - q >= 72 && max - taken >= 64) {
    const __m512i bytes = _mm512_loadu_si512(q);
    const uint64_t feeds = _mm512_cmpeq_epi8_mask(bytes, feed);
    if (feeds == 0) break;
    // Only the lines that end in this block count; the part line after them waits.
    const unsigned last = 63 - static_cast<unsigned>(__builtin_clzll(feeds));
    const uint64_t whole = last == 63 ? ~uint64_t{0} : (uint64_t{2} << last) - 1;
    const uint64_t returns = _mm512_cmpeq_epi8_mask(bytes, carriage) & whole;
    const uint64_t blanks = _mm512_cmpeq_epi8_mask(bytes, blank) & whole;
    const __m512i digit_values = _mm512_sub_epi8(bytes, zero_digit);
    const uint64_t digits = _mm512_cmple_epu8_mask(digit_values, nine) & whole;
    // Every line: a blank, one to three digits, a blank, CR, LF; nothing else anywhere.
    const uint64_t starts = ((feeds << 1) | 1) & whole;
    const uint64_t before_ends = feeds >> 2;
    const uint64_t line_returns = feeds >> 1;
    const bool writer_form = returns == line_returns && blanks == (starts | before_ends) &&
                             digits == (whole & ~(starts | before_ends | line_returns | feeds)) &&
                             ((starts << 1) & ~digits) == 0 && ((feeds >> 6) & digits) == 0;
    if (!writer_form) break;
    // At each line feed: the digits 5, 4 and 3 places before it (0 for a blank, or for a place
    // before the block, which belongs to no line of it).
    const __m512i values = _mm512_maskz_mov_epi8(digits, digit_values);
    const __m512i units = _mm512_maskz_permutexvar_epi8(~uint64_t{0} << 3, up3, values);
    const __m512i tens = _mm512_maskz_permutexvar_epi8(~uint64_t{0} << 4, up4, values);
    const __m512i hundreds = _mm512_maskz_permutexvar_epi8(~uint64_t{0} << 5, up5, values);
    // Ten times a digit as 8 + 2 times it: shifts of 16-bit lanes that never carry into the
    // next byte, as a digit times 8 stays below 256.
    const __m512i below_hundred = _mm512_add_epi8(
        _mm512_add_epi8(_mm512_slli_epi16(tens, 3), _mm512_slli_epi16(tens, 1)), units);
    const uint64_t above_255 =
        _mm512_cmpgt_epu8_mask(hundreds, two) |
        (_mm512_cmpeq_epi8_mask(hundreds, two) & _mm512_cmpgt_epu8_mask(below_hundred, fifty_five));
    if ((above_255 & feeds) != 0) break;
    const __m512i samples =
        _mm512_add_epi8(_mm512_shuffle_epi8(hundreds_of, hundreds), below_hundred);
    _mm512_storeu_si512(out + taken, _mm512_maskz_compress_epi8(feeds, samples));
    taken += static_cast<std::size_t>(__builtin_popcountll(feeds));
    q += last + 1;
  }
  return taken;
}

bool ProcessorHasWideBytes() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2");
}

#else

std::size_t TakeWide(const char*&, const char*, uint8_t*, std::size_t) { return 0; }
bool ProcessorHasWideBytes() { return false; }

#endif

const bool kAvailable = ProcessorHasWideBytes();
std::atomic<bool> use_wide{kAvailable};

}  // namespace

std::size_t TakeWriterLinesWide(const char*& q, const char* end, uint8_t* out, std::size_t max) {
  if (!use_wide.load(std::memory_order_relaxed)) return 0;
  return TakeWide(q, end, out, max);
}

bool WideWriterLinesAvailable() { return kAvailable; }

void UseWideWriterLines(bool on) { use_wide.store(on && kAvailable, std::memory_order_relaxed); }

}  // namespace fc
