#include "State.h"

#include <cstdint>

#include "core/FileIO.h"

namespace {

// count variable records of the kind given, appended to vars; false when
// one cannot be read (it has reported), the ones read before it left in vars.
bool readVariables(FILE* file, const State::TYPE type, const uint32_t count, std::vector<VarValues*>& vars) {
    vars.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        VarValues* v = (type == State::INT) ? static_cast<VarValues*>(new VarValuesInt("", 0, 0))
                                            : static_cast<VarValues*>(new VarValuesDouble("", 0.0, 0.0));
        if (v->load(file) != 0) {
            delete v;
            return false;
        }
        vars.push_back(v);
    }
    return true;
}

}  // namespace

State::State() : varType(UNDEF) {}

State::State(FILE* file) : varType(UNDEF) { (void)load(file); }

State::~State() { clear(); }

void State::clear() {
    for (VarValues* v : vars) delete v;
    vars.clear();
}

const unsigned int State::registerVariable(const std::string& name, const int minValue, const int maxValue) {
    if (vars.empty()) {
        varType = INT;
    } else if (varType != INT) {
        TEMBRA_ERROR("Cannot register Int-Variable!");
        return NO_ID;
    }
    if (minValue > maxValue) {
        vars.push_back(new VarValuesInt(name, maxValue, minValue));
    } else {
        vars.push_back(new VarValuesInt(name, minValue, maxValue));
    }
    return static_cast<unsigned int>(vars.size() - 1);
}

const unsigned int State::registerVariable(const std::string& name, const double minValue, const double maxValue) {
    if (vars.empty()) {
        varType = DOUBLE;
    } else if (varType != DOUBLE) {
        TEMBRA_ERROR("Cannot register Double-Variable!");
        return NO_ID;
    }
    if (minValue > maxValue) {
        vars.push_back(new VarValuesDouble(name, maxValue, minValue));
    } else {
        vars.push_back(new VarValuesDouble(name, minValue, maxValue));
    }
    return static_cast<unsigned int>(vars.size() - 1);
}

const unsigned int State::getVariableId(const std::string& name) const {
    for (std::size_t id = 0; id < vars.size(); ++id) {
        if (vars[id]->getName() == name) return static_cast<unsigned int>(id);
    }
    TEMBRA_ERROR("No variable with name = " << name);
    return NO_ID;
}

const int State::save(FILE* file) const {
    if (!tembra_io::writeUInt32(file, static_cast<uint32_t>(vars.size())) || !tembra_io::writeInt32(file, varType)) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    for (const VarValues* v : vars) {
        const int result = v->save(file);
        if (result != 0) return result;
    }
    return 0;
}

const int State::load(FILE* file) {
    // Whatever happens below, a State whose load fails is empty and of no kind.
    clear();
    varType = UNDEF;
    uint32_t varsSize = 0;
    int32_t readType = 0;
    if (!tembra_io::readUInt32(file, varsSize) || !tembra_io::readInt32(file, readType)) {
        TEMBRA_ERROR(TEMBRA_ERRNO_WIDE);
        return -1;
    }
    varType = static_cast<TYPE>(readType);
    if (varType != INT && varType != DOUBLE) {
        TEMBRA_ERROR("Undef VarType: " << readType);
        // An empty State is a valid block; variables of no known kind are
        // not, and their records cannot even be skipped.
        if (varsSize == 0) return 0;
        varType = UNDEF;
        return -1;
    }
    // Every record holds at least its length and two bounds: a count the
    // rest of the file cannot hold is damage, not a reason to allocate.
    const long long minRecord = (varType == INT) ? 12 : 20;
    if (!tembra_io::fits(file, varsSize, minRecord)) {
        TEMBRA_ERROR("varsSize = " << varsSize << " --> more variables than the rest of the file can hold");
        varType = UNDEF;
        return -1;
    }
    if (!readVariables(file, varType, varsSize, vars)) {
        // The variable has reported; a half-read State is of no use.
        clear();
        varType = UNDEF;
        return -1;
    }
    return 0;
}
