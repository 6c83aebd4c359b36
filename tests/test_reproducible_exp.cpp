// The library's own exp: within 1 ulp of the exact value over the whole
// range a double argument can give a finite, nonzero result, with std::exp's
// inf, 0 and NaN, and the same bits on every build (the recorded hash of a
// dense sweep). The accuracy is measured against MPFR where this build can
// link it (the native one); the i386 build has no 32-bit MPFR and relies on
// the recorded bits, which tie its results to the native ones.

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "Utility.h"

#ifdef TEMBRA_HAVE_MPFR
#include <mpfr.h>
#endif

namespace {

const double INF = std::numeric_limits<double>::infinity();

// The sweep: a regular grid of 2^20 + 1 points over [-745, 710], the
// neighbourhoods of the ends of the range and of the points half-way between
// multiples of ln 2 (where the reduction changes k), small arguments from
// 2^-1 down to the least subnormal, and the special values.
std::vector<double> sweep() {
    std::vector<double> xs;
    const int N = 1 << 20;
    for (int i = 0; i <= N; ++i) xs.push_back(-745.0 + i * (1455.0 / N));
    const double ln2 = 0.69314718055994530942;
    for (int k = -1076; k <= 1024; k += 7) {
        double x = (k + 0.5) * ln2;
        for (int step = 0; step < 3; ++step) x = std::nextafter(x, -INF);
        for (int step = 0; step < 6; ++step, x = std::nextafter(x, INF)) xs.push_back(x);
    }
    for (double x : {709.782712893384, -745.1332191019411, -745.1332191019412, -708.3964185322641, -708.4})
        xs.insert(xs.end(), {std::nextafter(x, -INF), x, std::nextafter(x, INF)});
    for (double x = 0.5; x > 0.0; x = x / 2) xs.insert(xs.end(), {x, -x, x * 1.4142135623730951});
    xs.insert(xs.end(), {0.0, -0.0, INF, -INF, std::numeric_limits<double>::quiet_NaN(), 710.0, 709.79, 1e300, -746.0,
                         -1e300, DBL_MAX, -DBL_MAX});
    return xs;
}

// What std::exp can give: NaN, +inf, 0 or anything else.
const char* kindOf(const double y) { return std::isnan(y) ? "NaN" : y == INF ? "+inf" : y == 0.0 ? "0" : "other"; }

#ifdef TEMBRA_HAVE_MPFR
// |y - exp(x)| in units of the last place of exp(x) as a double (2^-1074 in
// the subnormal range), from exp(x) to 200 bits. Where exp(x) rounds to +inf
// (at or above DBL_MAX + half its ulp), 0 for y = +inf and +inf otherwise.
double ulpError(const double x, const double y) {
    mpfr_t exact, t;
    mpfr_inits2(200, exact, t, static_cast<mpfr_ptr>(nullptr));
    mpfr_set_d(exact, x, MPFR_RNDN);
    mpfr_exp(exact, exact, MPFR_RNDN);
    mpfr_set_d(t, DBL_MAX, MPFR_RNDN);
    mpfr_add_d(t, t, 0x1p970, MPFR_RNDN);
    double error = INF;
    if (mpfr_cmp(exact, t) >= 0) {
        if (y == INF) error = 0.0;
    } else if (std::isfinite(y)) {
        // exp(-inf) is an exact 0, whose exponent is MPFR's own mark.
        const long ulpExponent =
            mpfr_zero_p(exact) ? -1074L : std::max(static_cast<long>(mpfr_get_exp(exact)) - 53, -1074L);
        mpfr_set_d(t, y, MPFR_RNDN);
        mpfr_sub(t, t, exact, MPFR_RNDN);
        mpfr_mul_2si(t, t, -ulpExponent, MPFR_RNDN);
        error = std::fabs(mpfr_get_d(t, MPFR_RNDN));
    }
    mpfr_clears(exact, t, static_cast<mpfr_ptr>(nullptr));
    return error;
}
#endif

}  // namespace

TEST(ReproducibleExp, WithinOneUlpOfExactAndLikeStdExpAtTheEdges) {
    for (const double x : sweep()) {
        const double y = reproducibleExp(x);
        ASSERT_STREQ(kindOf(y), kindOf(std::exp(x))) << "x = " << x << ": " << y << ", std::exp: " << std::exp(x);
#ifdef TEMBRA_HAVE_MPFR
        if (std::isnan(x)) continue;
        ASSERT_LT(ulpError(x, y), 1.0) << "x = " << x << " (" << std::hexfloat << x << "): " << y;
#endif
    }
#ifndef TEMBRA_HAVE_MPFR
    GTEST_SKIP() << "inf, 0 and NaN checked; the accuracy was not measured: MPFR cannot be linked into this build "
                    "(none for this architecture). SameBitsOnEveryBuild ties this build's results to the native ones";
#endif
}

// The hash (FNV-1a over the result bits) of the whole sweep, recorded from
// the native build: every build that does its doubles in SSE2 must give it.
TEST(ReproducibleExp, SameBitsOnEveryBuild) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const double x : sweep()) {
        const double y = reproducibleExp(x);
        std::uint64_t bits;
        std::memcpy(&bits, &y, sizeof bits);
        hash = (hash ^ bits) * 1099511628211ull;
    }
    EXPECT_EQ(hash, 0xbbd3840b3050911full) << std::hex << "hash 0x" << hash;
}
