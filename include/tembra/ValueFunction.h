#ifndef TEMBRA_VALUEFUNCTION_H
#define TEMBRA_VALUEFUNCTION_H

#include <cstdio>
#include <string>

#include "Export.h"
#include "State.h"

// Abstract base of every value function: the State it is defined on
// (owned), the function that gives new weights their initial value, the
// clamp limits, and the flag that makes the learners restart the record of
// visited states at every episode. The pure operations below are the whole
// interface through which the learners drive a representation.
class TEMBRA_API ValueFunction {
public:
    typedef const double (*InitFunction)();

    // aStatePtr may be null for a value function that is to be loaded from
    // a file; the value function owns the State from here on.
    explicit ValueFunction(State* aStatePtr);
    virtual ~ValueFunction();

    ValueFunction(const ValueFunction&) = delete;
    ValueFunction& operator=(const ValueFunction&) = delete;

    virtual void initWeights(const double (*initFunctionPtr)()) = 0;
    virtual void initEligibilityTraces() = 0;
    virtual void updateWeights(const double ALPHA, const double DELTA) = 0;
    virtual void updateEligibilityTraces(const double GAMMA, const double LAMBDA) = 0;
    virtual void accumulatingTraces(const double VALUE) = 0;
    virtual void replacingTraces(const double VALUE) = 0;
    virtual void checkWeightLimit() = 0;
    virtual const double getMinWeight() const = 0;
    virtual const double getAvgWeight(const bool abs) const = 0;
    virtual const double getMaxWeight() const = 0;
    virtual void setState() = 0;
    virtual void storeState() = 0;
    virtual void initEpisodeStateHistory() = 0;
    virtual void valueEpisode(const double value) = 0;
    virtual const int save(const std::string& fileName) const = 0;
    virtual const int load(const std::string& fileName) = 0;

    State* getStatePtr() { return statePtr; }
    void setMinWeightLimit(const double limit) { minWeightLimit = limit; }
    void setMaxWeightLimit(const double limit) { maxWeightLimit = limit; }
    void setEpisodeStateHistory(const bool history) { episodeStateHistory = history; }
    const bool getEpisodeStateHistory() const { return episodeStateHistory; }
    void setInitWeightsFunctionPtr(const double (*initFunctionPtr)()) { initWeightsFunctionPtr = initFunctionPtr; }

    // Class-wide initial-weight settings: they apply to every value function
    // that creates weights afterwards. The representations reset them in
    // their constructors.
    static void setValue(const double aValue) { value = aValue; }
    static void setRandomValueBoundaries(const double min, const double max) {
        minValue = min;
        maxValue = max;
    }

protected:
    // The representation's body at the stream's position: 0 on success.
    virtual const int save(FILE* file) const = 0;
    virtual const int load(FILE* file) = 0;

    // The constant initial weight (0.0 unless setValue changed it). Out of
    // line, so that the library and a using program see one address for
    // it (inline functions are hidden per module).
    static const double getValue();
    // A uniform draw in [minValue, maxValue): one rand() call.
    static const double getRandomValue();

    State* statePtr;
    const double (*initWeightsFunctionPtr)();
    double minWeightLimit;
    double maxWeightLimit;
    bool episodeStateHistory;

    static double value;
    static double minValue;
    static double maxValue;
};

#endif
