#ifndef TEMBRA_TOOLS_INSPECT_INSPECTORS_H
#define TEMBRA_TOOLS_INSPECT_INSPECTORS_H

// The inspectors of tembra-inspect: one per kind of value function the
// library writes. Each owns the value function read from a file and knows
// how to describe its representation and list its weights.

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "State.h"
#include "ValueFunction.h"

namespace tembra_inspect {

class Inspector {
public:
    virtual ~Inspector() = default;
    virtual ValueFunction& valueFunction() = 0;
    // Number of actions of a Q function; -1 for a V function.
    virtual int actions() { return -1; }
    virtual long long weightCount() = 0;
    virtual void describeRepresentation(std::ostream& out) = 0;
    // Every weight as CSV rows, header first.
    virtual void writeWeights(std::ostream& out) = 0;

    State& state() { return *valueFunction().getStatePtr(); }
    // Saves what was read; the library's own writer.
    bool saveTo(const std::string& file) {
        return valueFunction().getStatePtr() != nullptr && valueFunction().save(file) == 0;
    }
    // The state variables, the representation, the actions and the
    // weights' minimum, mean and maximum.
    void describe(std::ostream& out);
};

// A reader of one kind of value-function file.
struct Reader {
    const char* kind;
    const char* what;
    std::unique_ptr<Inspector> (*open)(const std::string& file);
};

// The readers, in the order they are tried.
const std::vector<Reader>& readers();
const Reader* findReader(const std::string& kind);
// The kinds, joined by separator.
std::string kindList(const char* separator);

}  // namespace tembra_inspect

#endif
