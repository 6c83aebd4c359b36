#include "valuefunction/FileEnvelope.h"

#include <sstream>

#include "core/AtomicFile.h"
#include "core/File.h"
#include "Report.h"

namespace tembra_envelope {

std::string errnoText() {
    std::ostringstream text;
    text << TEMBRA_ERRNO_NARROW;
    return text.str();
}

namespace {

// The parts both directions share, in the order of the file: the State
// block, the fields, the body. Every failure is reported while the file is
// still open, so that the errno it quotes is the failing call's.
bool transfer(FILE* file, const Body& stateBlock, const char* stateFailed, const Fields& fields, const Body& body,
              const char* bodyFailed, const ReportTo& report) {
    if (!stateBlock(file)) {
        report(stateFailed);
        return false;
    }
    if (fields && !fields(file, report)) return false;
    if (!body(file)) {
        report(bodyFailed);
        return false;
    }
    return true;
}

}  // namespace

int save(const std::string& fileName, const State* state, const Fields& fields, const Body& body,
         const ReportTo& report) {
    if (state == nullptr) {
        report("statePtr == 0 --> nothing to save (create or load the value function first)");
        return -1;
    }
    // The file that was there is replaced only by a complete one: a failure
    // discards what was written and leaves it as it was.
    tembra_io::AtomicFile file(fileName);
    if (!file.isOpen()) {
        // The program may write several files: say which one.
        report(errnoText() + " (" + fileName + ")");
        return -1;
    }
    const auto writeState = [state](FILE* out) { return state->save(out) == 0; };
    if (!transfer(file.get(), writeState, "saving state failed", fields, body, "saving valuefunction failed", report))
        return -1;
    if (!file.commit()) {
        report(errnoText());
        return -1;
    }
    return 0;
}

int load(const std::string& fileName, State*& state, const Fields& fields, const Body& body, const ReportTo& report) {
    tembra_io::File file(fileName, "r");
    if (!file.isOpen()) {
        report(errnoText() + " (" + fileName + ")");
        return -1;
    }
    const auto readState = [&state](FILE* in) {
        if (state == nullptr) state = new State();
        return state->load(in) == 0;
    };
    if (!transfer(file.get(), readState, "loading state failed", fields, body, "loading valuefunction failed", report))
        return -1;
    if (!file.close()) {
        report(errnoText());
        return -1;
    }
    return 0;
}

}  // namespace tembra_envelope
