#ifndef TEMBRA_STATEVALUEFUNCTION_H
#define TEMBRA_STATEVALUEFUNCTION_H

#include "ValueFunction.h"

// The value function V(s) and its file, the V file: the State block
// followed by the representation's body. Nothing in the file names the
// representation, so a V file is read by the class that wrote it.
class TEMBRA_API StateValueFunction : public ValueFunction {
public:
    explicit StateValueFunction(State* aStatePtr);
    ~StateValueFunction() override;

    // Whole V file: 0 on success, -1 on failure (reported).
    const int save(const std::string& fileName) const override;
    const int load(const std::string& fileName) override;

    // V of the present state (the features of the last setState).
    virtual const double getStateValue() const = 0;

protected:
    const int save(FILE* file) const override = 0;
    const int load(FILE* file) override = 0;
};

#endif
