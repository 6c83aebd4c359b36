#ifndef TEMBRA_STATE_H
#define TEMBRA_STATE_H

#include <cstdio>
#include <string>
#include <vector>

#include "Export.h"
#include "Report.h"
#include "VarValuesDouble.h"
#include "VarValuesInt.h"

// The environment's state as an ordered list of named, bounded variables,
// all integer or all floating point. A variable's id is its position in
// registration order. The State owns its variables; a value function owns
// its State. Its binary form, the State block (varsSize uint32, varType
// int32, then the variable records), opens every value-function file.
class TEMBRA_API State {
public:
    enum TYPE : int { UNDEF = 0, INT = 1, DOUBLE = 2 };

    // Returned for a refused registration or an unknown name (the unsigned
    // form of -1).
    static const unsigned int NO_ID = 4294967295u;

    State();
    // Reads a State block; a failure is reported and leaves an empty State.
    explicit State(FILE* file);
    ~State();

    State(const State&) = delete;
    State& operator=(const State&) = delete;

    // Registers a variable and returns its id, or NO_ID when the State
    // already holds variables of the other kind. Bounds are ordered.
    const unsigned int registerVariable(const std::string& name, const int minValue, const int maxValue);
    const unsigned int registerVariable(const std::string& name, const double minValue, const double maxValue);

    const unsigned int getVariableId(const std::string& name) const;
    const unsigned int getNumberOfVariables() const { return static_cast<unsigned int>(vars.size()); }
    const TYPE getType() const { return varType; }

    // Typed access by id. A getter on the wrong kind or with an id out of
    // range reports and returns 0; a setter reports and changes nothing.
    const int getValueInt(const unsigned int varId) const {
        const VarValuesInt* v = intVar(varId, __func__, __LINE__);
        return v != nullptr ? v->getValue() : 0;
    }
    const int getMinValueInt(const unsigned int varId) const {
        const VarValuesInt* v = intVar(varId, __func__, __LINE__);
        return v != nullptr ? v->getMinValue() : 0;
    }
    const int getMaxValueInt(const unsigned int varId) const {
        const VarValuesInt* v = intVar(varId, __func__, __LINE__);
        return v != nullptr ? v->getMaxValue() : 0;
    }
    const double getValueDbl(const unsigned int varId) const {
        const VarValuesDouble* v = doubleVar(varId, __func__, __LINE__);
        return v != nullptr ? v->getValue() : 0.0;
    }
    const double getMinValueDbl(const unsigned int varId) const {
        const VarValuesDouble* v = doubleVar(varId, __func__, __LINE__);
        return v != nullptr ? v->getMinValue() : 0.0;
    }
    const double getMaxValueDbl(const unsigned int varId) const {
        const VarValuesDouble* v = doubleVar(varId, __func__, __LINE__);
        return v != nullptr ? v->getMaxValue() : 0.0;
    }

    void setValueInt(const unsigned int varId, const int value) {
        VarValuesInt* v = intVar(varId, __func__, __LINE__);
        if (v != nullptr) v->setValue(value);
    }
    void setMinValueInt(const unsigned int varId, const int value) {
        VarValuesInt* v = intVar(varId, __func__, __LINE__);
        if (v != nullptr) v->setMinValue(value);
    }
    void setMaxValueInt(const unsigned int varId, const int value) {
        VarValuesInt* v = intVar(varId, __func__, __LINE__);
        if (v != nullptr) v->setMaxValue(value);
    }
    void setValueDbl(const unsigned int varId, const double value) {
        VarValuesDouble* v = doubleVar(varId, __func__, __LINE__);
        if (v != nullptr) v->setValue(value);
    }
    void setMinValueDbl(const unsigned int varId, const double value) {
        VarValuesDouble* v = doubleVar(varId, __func__, __LINE__);
        if (v != nullptr) v->setMinValue(value);
    }
    void setMaxValueDbl(const unsigned int varId, const double value) {
        VarValuesDouble* v = doubleVar(varId, __func__, __LINE__);
        if (v != nullptr) v->setMaxValue(value);
    }

    // Writes the State block: 0 on success, otherwise nonzero.
    const int save(FILE* file) const;
    // Replaces the variables by those of a State block: 0 on success (an
    // empty block of unknown kind is reported and accepted), -1 on a short
    // read, an implausible count, variables of unknown kind or a damaged
    // record (the State is then left empty and UNDEF).
    const int load(FILE* file);

protected:
    // The checks every typed access makes: the State's kind first, then
    // the id. Reports name the accessor that was called. The hooks and the
    // tables access variables at every step, so the test is inline and
    // only the report is not.
    VarValuesInt* intVar(const unsigned int varId, const char* function, const int line) const {
        if (varType == INT && varId < vars.size()) return static_cast<VarValuesInt*>(vars[varId]);
        reportAccess(INT, varId, function, line);
        return nullptr;
    }
    VarValuesDouble* doubleVar(const unsigned int varId, const char* function, const int line) const {
        if (varType == DOUBLE && varId < vars.size()) return static_cast<VarValuesDouble*>(vars[varId]);
        reportAccess(DOUBLE, varId, function, line);
        return nullptr;
    }
    // Reports why a variable of kind wanted with id varId cannot be
    // accessed; kept out of line so that the accessors stay small.
    [[gnu::noinline, gnu::cold]] void reportAccess(const TYPE wanted, const unsigned int varId, const char* function,
                                                   const int line) const {
        if (varType != wanted) {
            if (wanted == INT) TEMBRA_ERROR_AT(function, line, "Not an Int-State!");
            else TEMBRA_ERROR_AT(function, line, "Not a Double-State!");
            return;
        }
        TEMBRA_ERROR_AT(function, line, "VarId out of bounds --> 0 <= " << varId << " < " << vars.size());
    }
    // Releases every variable.
    void clear();

    TYPE varType;
    std::vector<VarValues*> vars;
};

#endif
