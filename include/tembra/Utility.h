#ifndef TEMBRA_UTILITY_H
#define TEMBRA_UTILITY_H

#include <cmath>
#include <cstdlib>
#include <type_traits>

#include "Export.h"

// Small inline helpers shared by the whole library. The random functions
// draw from the process-wide rand() generator, so the library shares one
// sequence with the using program; with glibc RAND_MAX is 2^31 - 1 on
// both i386 and x86_64, which the constants below rely on.

// value clamped into [lowerBound, upperBound]. A value equal to a bound
// gives that bound, a NaN gives lowerBound, and with lowerBound >
// upperBound the result is upperBound.
template <class T>
inline T minMax(const T value, const T lowerBound, const T upperBound) {
    const T m = (lowerBound < value) ? value : lowerBound;
    return (m < upperBound) ? m : upperBound;
}

// value wrapped around into the closed interval [minValue, maxValue]
// (used for CIRCLE tiles). An empty or inverted interval, and a value that
// is not finite, leave the value unchanged: folding could never end there.
template <class T>
inline T normalize(T value, const T minValue, const T maxValue) {
    if (!(maxValue > minValue)) return value;
    if constexpr (std::is_floating_point<T>::value) {
        if (!std::isfinite(value) || !std::isfinite(maxValue - minValue)) return value;
    }
    const T range = maxValue - minValue;
    // Far outside the interval, jump close to it first so that the folding
    // below takes a few rounds however far the value strayed.
    if constexpr (std::is_floating_point<T>::value) {
        if (std::fabs(value - minValue) > 64 * range) {
            value = minValue + std::fmod(value - minValue, range);
        }
    }
    while (value < minValue) value = value + range;
    while (value > maxValue) value = value - range;
    return value;
}

// exp(x), computed by the library itself instead of the platform's libm.
// The libms of x86_64 and i386 round the last bit of exp differently, so a
// seeded run would save other network weights, or draw another softmax
// action, on each. This one uses plain IEEE double operations in a fixed
// order, compiled inside the library (out of line, without FMA contraction)
// where a program's own compile flags cannot change it, and so gives the
// same bits on every build that does its double arithmetic in SSE2. It is
// within 1 ulp of exp wherever exp is a finite double, subnormal results
// included; like std::exp it gives +inf where exp overflows (x above
// 709.78), 0 where it rounds to 0 (x below -745.13), 1 for +-0 and NaN for
// NaN.
TEMBRA_API double reproducibleExp(double x);

inline void setSeed(const unsigned int seed) { std::srand(seed); }

// rand() * 2^-31: in [0, 1), 0 when rand() gives 0, never 1.
inline double getNextDouble() { return std::rand() * (1.0 / 2147483648.0); }

// The uniform index draw over N items: one rand() call, result in [0, N-1].
inline int getRandomIndex(const int N) {
    return minMax<int>(static_cast<int>(std::floor(getNextDouble() * N)), 0, N - 1);
}

// The softmax draw. valuePtr holds VALUES action values whose minimum and
// maximum the caller passes; it is overwritten with the unnormalised
// weights exp((v - MIN) / ((MAX - MIN) * TEMPERATURE)). Exactly one rand()
// call is made. All values equal, a zero temperature or weights whose sum
// is not a positive finite number fall back to the uniform index draw.
inline const int getSoftMaxIndex(const int VALUES, double* valuePtr, const double TEMPERATURE, const double MIN_VALUE,
                                 const double MAX_VALUE) {
    if (VALUES < 1 || valuePtr == nullptr) return -1;
    const double MAX_MIN_DIFF = MAX_VALUE - MIN_VALUE;
    if (MAX_MIN_DIFF == 0.0 || TEMPERATURE == 0.0) return getRandomIndex(VALUES);

    double sum = 0.0;
    for (int i = 0; i < VALUES; ++i) {
        valuePtr[i] = reproducibleExp((valuePtr[i] - MIN_VALUE) / (MAX_MIN_DIFF * TEMPERATURE));
        sum = sum + valuePtr[i];
    }
    if (!(sum > 0.0) || !std::isfinite(sum)) return getRandomIndex(VALUES);

    const double DBL_RAND_MAX = 2147483647.0;
    const int RANDOM_VALUE = std::rand();
    double randSum = 0.0;
    for (int index = 0; index < VALUES; ++index) {
        randSum = randSum + valuePtr[index] / sum * DBL_RAND_MAX;
        if (randSum > RANDOM_VALUE) return index;
    }
    return VALUES - 1;
}

#endif
