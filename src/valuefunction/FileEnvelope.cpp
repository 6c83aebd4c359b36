#include "valuefunction/FileEnvelope.h"

#include <sstream>

#include "core/File.h"
#include "Report.h"

namespace tembra_envelope {

std::string errnoText() {
    std::ostringstream text;
    text << TEMBRA_ERRNO_NARROW;
    return text.str();
}

// Every failure below is reported while the file is still open, so that
// the errno it quotes is the failing call's; the handle closes it after.

int save(const std::string& fileName, const State* state, const Fields& fields, const Body& body,
         const ReportTo& report) {
    if (state == nullptr) {
        report("statePtr == 0 --> nothing to save (create or load the value function first)");
        return -1;
    }
    tembra_io::File file(fileName, "w+");
    if (!file.isOpen()) {
        report(errnoText());
        return -1;
    }
    if (state->save(file.get()) != 0) {
        report("saving state failed");
        return -1;
    }
    if (fields && !fields(file.get(), report)) return -1;
    if (!body(file.get())) {
        report("saving valuefunction failed");
        return -1;
    }
    if (!file.close()) {
        report(errnoText());
        return -1;
    }
    return 0;
}

int load(const std::string& fileName, State*& state, const Fields& fields, const Body& body, const ReportTo& report) {
    tembra_io::File file(fileName, "r");
    if (!file.isOpen()) {
        report(errnoText());
        return -1;
    }
    if (state == nullptr) state = new State();
    if (state->load(file.get()) != 0) {
        report("loading state failed");
        return -1;
    }
    if (fields && !fields(file.get(), report)) return -1;
    if (!body(file.get())) {
        report("loading valuefunction failed");
        return -1;
    }
    if (!file.close()) {
        report(errnoText());
        return -1;
    }
    return 0;
}

}  // namespace tembra_envelope
