#include "VarValuesDouble.h"

#include "core/FileIO.h"
#include "Report.h"

VarValuesDouble::VarValuesDouble(const std::string& varName, const double aMinValue, const double aMaxValue)
    : VarValues(varName), value((aMinValue + aMaxValue) * 0.5), minValue(aMinValue), maxValue(aMaxValue) {}

VarValuesDouble::VarValuesDouble(FILE* file) : VarValues(""), value(0.0), minValue(0.0), maxValue(0.0) {
    (void)load(file);
}

VarValuesDouble::~VarValuesDouble() = default;

const int VarValuesDouble::save(FILE* file) const {
    if (!saveName(file) || !tembra_io::writeDouble(file, minValue) || !tembra_io::writeDouble(file, maxValue)) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    return 0;
}

const int VarValuesDouble::load(FILE* file) {
    if (loadName(file) != 0) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    double readMin = 0.0;
    double readMax = 0.0;
    if (!tembra_io::readDouble(file, readMin)) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    minValue = readMin;
    if (!tembra_io::readDouble(file, readMax)) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    maxValue = readMax;
    value = (maxValue + minValue) * 0.5;
    return 0;
}
