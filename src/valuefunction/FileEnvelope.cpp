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

namespace {

// The sequence both directions share: open fileName in mode, the State
// block, the fields, the body, close. Every failure is reported while the
// file is still open, so that the errno it quotes is the failing call's;
// the handle closes the file after.
int transfer(const std::string& fileName, const char* mode, const Body& stateBlock, const char* stateFailed,
             const Fields& fields, const Body& body, const char* bodyFailed, const ReportTo& report) {
    tembra_io::File file(fileName, mode);
    if (!file.isOpen()) {
        // The program may open several files: say which one.
        report(errnoText() + " (" + fileName + ")");
        return -1;
    }
    if (!stateBlock(file.get())) {
        report(stateFailed);
        return -1;
    }
    if (fields && !fields(file.get(), report)) return -1;
    if (!body(file.get())) {
        report(bodyFailed);
        return -1;
    }
    if (!file.close()) {
        report(errnoText());
        return -1;
    }
    return 0;
}

}  // namespace

int save(const std::string& fileName, const State* state, const Fields& fields, const Body& body,
         const ReportTo& report) {
    if (state == nullptr) {
        report("statePtr == 0 --> nothing to save (create or load the value function first)");
        return -1;
    }
    const auto writeState = [state](FILE* file) { return state->save(file) == 0; };
    return transfer(fileName, "w+", writeState, "saving state failed", fields, body, "saving valuefunction failed",
                    report);
}

int load(const std::string& fileName, State*& state, const Fields& fields, const Body& body, const ReportTo& report) {
    const auto readState = [&state](FILE* file) {
        if (state == nullptr) state = new State();
        return state->load(file) == 0;
    };
    return transfer(fileName, "r", readState, "loading state failed", fields, body, "loading valuefunction failed",
                    report);
}

}  // namespace tembra_envelope
