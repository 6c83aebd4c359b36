#include "Utility.h"

#include <cmath>
#include <cstdint>
#include <cstring>

// This file is compiled with -ffp-contract=off -fno-fast-math (see
// CMakeLists.txt): every product and sum below is one IEEE double operation,
// rounded to nearest, in the order written, and nothing is fused or
// reordered. That is what makes the result the same bits on every build.

namespace {

// ln 2 in two parts (Cody and Waite). LN2_HI keeps 42 significant bits, so
// k * LN2_HI is exact for every |k| < 2^11 met below, and x - k * LN2_HI is
// exact too (the two are within a factor of two of each other); LN2_LO is
// the rest of ln 2, rounded to a double.
const double LN2_HI = 0x1.62e42fefa38p-1;
const double LN2_LO = 0x1.ef35793c7673p-45;
const double INV_LN2 = 0x1.71547652b82fep+0;
// Added to a number of magnitude below 2^51, 1.5 * 2^52 leaves a sum whose
// last place is 1: the sum is the number rounded to the nearest integer,
// which its low bits hold in two's complement.
const double ROUNDING_SHIFT = 0x1.8p52;

// Above ln(DBL_MAX) = 709.78... exp overflows; below ln(2^-1075) =
// -745.13... it rounds to 0. The bounds leave a margin on the far side,
// where the scaling itself overflows or underflows as it should.
const double OVERFLOW_BOUND = 709.79;
const double UNDERFLOW_BOUND = -746.0;

// q(r) = (exp(r) - 1 - r) / r^2 on |r| <= 0.3466 (a little more than
// ln(2) / 2): a degree 10 polynomial fitted to it near-minimax (Chebyshev
// interpolation, coefficients rounded to doubles). Its error times r^2
// stays below 2^-61, far under the rounding of the result.
const double C0 = 0x1.0000000000000p-1;
const double C1 = 0x1.5555555555557p-3;
const double C2 = 0x1.5555555555556p-5;
const double C3 = 0x1.11111111100dcp-7;
const double C4 = 0x1.6c16c16c162d5p-10;
const double C5 = 0x1.a01a01abe78f9p-13;
const double C6 = 0x1.a01a01a6d84aap-16;
const double C7 = 0x1.71de0232f4775p-19;
const double C8 = 0x1.27e4db653346ep-22;
const double C9 = 0x1.af4de6a36d4fcp-26;
const double C10 = 0x1.1f7301a8efa5cp-29;

// q(r) by Estrin's scheme: pairs of coefficients, then pairs of pairs, so
// that the terms are formed side by side rather than in one long chain.
double q(const double r, const double r2) {
    const double r4 = r2 * r2;
    const double r8 = r4 * r4;
    const double q01 = C0 + r * C1;
    const double q23 = C2 + r * C3;
    const double q45 = C4 + r * C5;
    const double q67 = C6 + r * C7;
    const double q89 = C8 + r * C9;
    const double q03 = q01 + r2 * q23;
    const double q47 = q45 + r2 * q67;
    const double q810 = q89 + r2 * C10;
    return (q03 + r4 * q47) + r8 * q810;
}

// The integer n held by shifted = n + ROUNDING_SHIFT.
int integerOf(const double shifted) {
    std::uint64_t shiftedBits;
    std::uint64_t shiftBits;
    std::memcpy(&shiftedBits, &shifted, sizeof shiftedBits);
    std::memcpy(&shiftBits, &ROUNDING_SHIFT, sizeof shiftBits);
    return static_cast<int>(static_cast<std::int64_t>(shiftedBits - shiftBits));
}

// 2^k for -1022 <= k <= 1023, written into the exponent bits.
double powerOfTwo(const int k) {
    const std::uint64_t bits = static_cast<std::uint64_t>(k + 1023) << 52;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// e * 2^k for e in [0.7, 1.5) and -1076 <= k <= 1024. A normal result is an
// exact product. A result in the subnormal range is formed as e * 2^(k + 64),
// still normal and exact, times 2^-64, so that it is rounded only once; 2^1024
// is 2^1023 * 2, which overflows to +inf where the result does.
double scaleByPowerOfTwo(const double e, const int k) {
    if (k > 1023) return (e * powerOfTwo(k - 1)) * 2.0;
    if (k < -1021) return (e * powerOfTwo(k + 64)) * powerOfTwo(-64);
    return e * powerOfTwo(k);
}

}  // namespace

// exp(x) = 2^k * exp(r) with k = round(x / ln 2) and r = x - k ln 2, |r| <= ln(2) / 2.
// r is kept as hi - lo (hi exact), and exp(r) = 1 + r + r^2 q(r) is summed
// as 1 + hi + (r^2 q(r) - lo), so that the rounding of r only reaches the
// small term r^2 q(r). Never inlined, not even by link-time
// optimisation, so that its operations are always those compiled here.
[[gnu::noinline]] double reproducibleExp(const double x) {
    if (x != x) return x + x;  // NaN in, NaN out
    if (x > OVERFLOW_BOUND) return HUGE_VAL;
    if (x < UNDERFLOW_BOUND) return 0.0;

    const double shifted = x * INV_LN2 + ROUNDING_SHIFT;
    const double kd = shifted - ROUNDING_SHIFT;
    const double hi = x - kd * LN2_HI;
    const double lo = kd * LN2_LO;
    const double r = hi - lo;
    const double r2 = r * r;
    // 1 + hi as a rounded sum and its exact error (|hi| < 1), so that the
    // result is rounded once, at the end, instead of once more in 1 + hi.
    const double head = 1.0 + hi;
    const double tail = (1.0 - head) + hi;
    const double e = head + (tail + (r2 * q(r, r2) - lo));
    return scaleByPowerOfTwo(e, integerOf(shifted));
}
