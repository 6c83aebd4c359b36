#include "ValueFunction.h"

#include <cfloat>
#include <cstdlib>

double ValueFunction::value = 0.0;
double ValueFunction::minValue = -0.5;
double ValueFunction::maxValue = 0.5;

ValueFunction::ValueFunction(State* aStatePtr)
    : statePtr(aStatePtr),
      initWeightsFunctionPtr(&ValueFunction::getValue),
      minWeightLimit(-DBL_MAX),
      maxWeightLimit(DBL_MAX),
      episodeStateHistory(false) {}

ValueFunction::~ValueFunction() {
    delete statePtr;
    statePtr = nullptr;
}

const double ValueFunction::getValue() { return value; }

const double ValueFunction::getRandomValue() {
    const int r = std::rand();
    return minValue + (r * (1.0 / 2147483648.0)) * (maxValue - minValue);
}
