#include "VarValuesInt.h"

#include <cstdint>

#include "core/FileIO.h"
#include "Report.h"

VarValuesInt::VarValuesInt(const std::string& varName, const int aMinValue, const int aMaxValue)
    : VarValues(varName), value(midpoint(aMinValue, aMaxValue)), minValue(aMinValue), maxValue(aMaxValue) {}

VarValuesInt::VarValuesInt(FILE* file) : VarValues(""), value(0), minValue(0), maxValue(0) { (void)load(file); }

VarValuesInt::~VarValuesInt() = default;

const int VarValuesInt::midpoint(const int a, const int b) {
    // (a + b) / 2 in 64 bits: exact, then truncated toward zero like the
    // 32-bit division it replaces.
    return static_cast<int>((static_cast<int64_t>(a) + static_cast<int64_t>(b)) / 2);
}

const int VarValuesInt::save(FILE* file) const {
    if (!saveName(file) || !tembra_io::writeInt32(file, minValue) || !tembra_io::writeInt32(file, maxValue)) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    return 0;
}

const int VarValuesInt::load(FILE* file) {
    if (loadName(file) != 0) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    int32_t readMin = 0;
    int32_t readMax = 0;
    if (!tembra_io::readInt32(file, readMin)) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    minValue = readMin;
    if (!tembra_io::readInt32(file, readMax)) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    maxValue = readMax;
    value = midpoint(minValue, maxValue);
    return 0;
}
