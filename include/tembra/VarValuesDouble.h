#ifndef TEMBRA_VARVALUESDOUBLE_H
#define TEMBRA_VARVALUESDOUBLE_H

#include "VarValues.h"

// A floating-point state variable (for tile coding and the neural network).
// Record: name, then minValue and maxValue as float64.
class TEMBRA_API VarValuesDouble : public VarValues {
public:
    VarValuesDouble(const std::string& varName, const double aMinValue, const double aMaxValue);
    // Reads a record; a damaged one is reported, and the fields it did not
    // reach stay empty or 0.0.
    explicit VarValuesDouble(FILE* file);
    ~VarValuesDouble() override;

    const int save(FILE* file) const override;
    const int load(FILE* file) override;

    const double getValue() const { return value; }
    const double getMinValue() const { return minValue; }
    const double getMaxValue() const { return maxValue; }
    void setValue(const double aValue) { value = aValue; }
    void setMinValue(const double aMinValue) { minValue = aMinValue; }
    void setMaxValue(const double aMaxValue) { maxValue = aMaxValue; }

protected:
    double value;
    double minValue;
    double maxValue;
};

#endif
