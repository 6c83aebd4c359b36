#include "StateValueFunction.h"

#include "Report.h"
#include "valuefunction/FileEnvelope.h"

namespace {

// The envelope's reports name this file and the operation that was called.
void report(const char* function, const int line, const std::string& text) { TEMBRA_ERROR_AT(function, line, text); }

}  // namespace

StateValueFunction::StateValueFunction(State* aStatePtr) : ValueFunction(aStatePtr) {}

StateValueFunction::~StateValueFunction() = default;

// A V file has nothing between the State block and the body.

const int StateValueFunction::save(const std::string& fileName) const {
    return tembra_envelope::save(fileName, statePtr, nullptr, [this](FILE* file) { return save(file) == 0; },
                                 {report, __func__, __LINE__});
}

const int StateValueFunction::load(const std::string& fileName) {
    return tembra_envelope::load(fileName, statePtr, nullptr, [this](FILE* file) { return load(file) == 0; },
                                 {report, __func__, __LINE__});
}
