#include "StateValueFunction.h"

#include "Report.h"

StateValueFunction::StateValueFunction(State* aStatePtr) : ValueFunction(aStatePtr) {}

StateValueFunction::~StateValueFunction() = default;

const int StateValueFunction::save(const std::string& fileName) const {
    if (statePtr == nullptr) {
        TEMBRA_ERROR("statePtr == 0 --> nothing to save (create or load the value function first)");
        return -1;
    }
    FILE* file = std::fopen(fileName.c_str(), "w+");
    if (file == nullptr) {
        TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
        return -1;
    }
    if (statePtr->save(file) != 0) {
        TEMBRA_ERROR("saving state failed");
        std::fclose(file);
        return -1;
    }
    if (save(file) != 0) {
        TEMBRA_ERROR("saving valuefunction failed");
        std::fclose(file);
        return -1;
    }
    if (std::fclose(file) != 0) {
        TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
        return -1;
    }
    return 0;
}

const int StateValueFunction::load(const std::string& fileName) {
    FILE* file = std::fopen(fileName.c_str(), "r");
    if (file == nullptr) {
        TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
        return -1;
    }
    if (statePtr == nullptr) statePtr = new State();
    if (statePtr->load(file) != 0) {
        TEMBRA_ERROR("loading state failed");
        std::fclose(file);
        return -1;
    }
    if (load(file) != 0) {
        TEMBRA_ERROR("loading valuefunction failed");
        std::fclose(file);
        return -1;
    }
    if (std::fclose(file) != 0) {
        TEMBRA_ERROR(TEMBRA_ERRNO_NARROW);
        return -1;
    }
    return 0;
}
