#ifndef TEMBRA_VARVALUESINT_H
#define TEMBRA_VARVALUESINT_H

#include "VarValues.h"

// An integer state variable (for lookup tables). Record: name, then
// minValue and maxValue as int32.
class TEMBRA_API VarValuesInt : public VarValues {
public:
    VarValuesInt(const std::string& varName, const int aMinValue, const int aMaxValue);
    // Reads a record; a damaged one is reported, and the fields it did not
    // reach stay empty or 0.
    explicit VarValuesInt(FILE* file);
    ~VarValuesInt() override;

    const int save(FILE* file) const override;
    const int load(FILE* file) override;

    const int getValue() const { return value; }
    const int getMinValue() const { return minValue; }
    const int getMaxValue() const { return maxValue; }
    void setValue(const int aValue) { value = aValue; }
    void setMinValue(const int aMinValue) { minValue = aMinValue; }
    void setMaxValue(const int aMaxValue) { maxValue = aMaxValue; }

    // Midpoint of two bounds rounded toward zero, formed without overflow
    // even for bounds near the limits of int.
    static const int midpoint(const int a, const int b);

protected:
    int value;
    int minValue;
    int maxValue;
};

#endif
