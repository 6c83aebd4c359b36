#include "Tembra.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <locale>
#include <string>

#include "Report.h"
#include "Utility.h"

namespace {

// ---------------------------------------------------------------------------
// Configuration file reading. The file is read character by character, so
// that no line, however long, binary or unterminated, makes the reader
// allocate more than one line's worth. The stream, not its buffer, is read:
// the buffer throws on a read error (a directory, a failing disk), the
// stream turns that into its bad state.

// Characters of a line (or of the rest of a line after its key) that the
// reader takes; a longer line ends the reading.
constexpr std::size_t LINE_LIMIT = 511;

using CharTraits = std::char_traits<char>;

bool isEnd(const int c) { return CharTraits::eq_int_type(c, CharTraits::eof()); }

// The white space that separates words, independent of any locale (and
// safe for bytes above 127).
bool isWhiteSpace(const int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

enum class LineEnd { NEWLINE, END_OF_FILE, TOO_LONG };

// The rest of the line, at most LINE_LIMIT characters; the newline is
// consumed and not stored.
LineEnd readRestOfLine(std::istream& in, std::string& text) {
    text.clear();
    for (;;) {
        const int c = in.peek();
        if (isEnd(c)) return LineEnd::END_OF_FILE;
        if (c == '\n') {
            in.get();
            return LineEnd::NEWLINE;
        }
        if (text.size() == LINE_LIMIT) return LineEnd::TOO_LONG;
        text.push_back(CharTraits::to_char_type(in.get()));
    }
}

enum class WordEnd { WORD, LINE_ENDED, END_OF_FILE, TOO_LONG };

// A white-space delimited word. Blanks before it are skipped; if a newline
// comes first, it is consumed and LINE_ENDED returned, so that the caller
// looks at the next line's first character afresh (a blank line must not
// turn a following comment or indented line into an entry).
WordEnd readWord(std::istream& in, std::string& word) {
    word.clear();
    for (;;) {
        const int c = in.peek();
        if (isEnd(c)) return WordEnd::END_OF_FILE;
        if (!isWhiteSpace(c)) break;
        in.get();
        if (c == '\n') return WordEnd::LINE_ENDED;
    }
    for (;;) {
        const int c = in.peek();
        if (isEnd(c) || isWhiteSpace(c)) return WordEnd::WORD;
        if (word.size() == LINE_LIMIT) return WordEnd::TOO_LONG;
        word.push_back(CharTraits::to_char_type(in.get()));
    }
}

// ---------------------------------------------------------------------------
// Signal mask bookkeeping of this thread. Learners are usually destroyed in
// the reverse order of their construction, and then each one unblocks just
// what it blocked itself. A learner destroyed while a younger one still
// lives must not unblock the signals under it (they would then be delivered
// with their default action and end the process): its share is kept here
// and released when the thread's last learner goes.

const int CONTROL_SIGNALS[] = {SIGUSR1, SIGUSR2, SIGTERM, SIGINT};

thread_local int blockingLearners = 0;
thread_local sigset_t deferredUnblock;

bool holdsControlSignal(const sigset_t& set) {
    for (const int sig : CONTROL_SIGNALS) {
        if (sigismember(&set, sig) == 1) return true;
    }
    return false;
}

}  // namespace

Tembra::Tembra(const std::string& fileName) : confFileName(fileName) {
    sigemptyset(&oldSigSet);
    sigemptyset(&newSigSet);
    sigemptyset(&pendingSignals);
    setSeed(1);
    // A subclass is not constructed yet: its overrides must not run here.
    Tembra::installSignalHandler();
    Tembra::loadConf();
}

Tembra::~Tembra() { Tembra::removeSignalHandler(); }

void Tembra::controlLoop() {
    if (!checkValueFunction()) {
        TEMBRA_ERROR("valueFunctionPtr not set --> leave controlLoop !!!");
        return;
    }
    while (continueLearning && !sigTermRcvd && !sigIntRcvd) {
        initEpisode();
        continueEpisode = true;
        while (continueEpisode && !sigIntRcvd) {
            step();
            checkPendingSignals();
        }
        finishEpisode();
    }
}

void Tembra::finishEpisode() { TEMBRA_NOTICE("episode = " << episodes << "  steps = " << steps); }

const bool Tembra::randomAction() const { return getNextDouble() < EPSILON; }

// ---------------------------------------------------------------------------
// Configuration file

void Tembra::saveConf() const {
    std::ofstream file(confFileName.c_str(), std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
        TEMBRA_NOTICE("Was not able to create file (" << confFileName << ")");
        return;
    }
    // The file is read back with atof: keep the decimal point a point
    // whatever global locale the using program installed.
    file.imbue(std::locale::classic());

    const char* actionSelection = "SOFTMAX";
    if (ACTION_SELECTION == GREEDY) actionSelection = "GREEDY";
    else if (ACTION_SELECTION == EPSILON_GREEDY) actionSelection = "EPSILON_GREEDY";
    const char* traces = "NONE";
    if (TRACES == REPLACING) traces = "REPLACING";
    else if (TRACES == ACCUMULATING) traces = "ACCUMULATING";

    file << "ALPHA " << ALPHA << std::endl;
    file << "LAMBDA " << LAMBDA << std::endl;
    file << "GAMMA " << GAMMA << std::endl;
    file << "ACTION_SELECTION " << actionSelection << std::endl;
    file << "EPSILON " << EPSILON << std::endl;
    file << "TEMPERATURE " << TEMPERATURE << std::endl;
    file << "TRACES " << traces << std::endl;
    file << "TRACE_VALUE " << TRACE_VALUE << std::endl;
    file.close();
    // A full disk would otherwise leave a cut-off file without a word.
    if (file.fail()) TEMBRA_ERROR("Was not able to write file (" << confFileName << ")");
}

void Tembra::loadConf() {
    std::ifstream file(confFileName.c_str(), std::ios::in);
    if (!file.is_open()) {
        TEMBRA_NOTICE("File (" << confFileName << ") didn't exist --> create");
        saveConf();
        return;
    }

    std::string key;
    std::string text;
    key.reserve(LINE_LIMIT);
    text.reserve(LINE_LIMIT);

    bool reading = true;
    while (reading) {
        const int next = file.peek();
        if (isEnd(next)) break;

        if (next == '#') {
            reading = readRestOfLine(file, text) == LineEnd::NEWLINE;
            continue;
        }
        if (next == ' ' || next == '\t') {
            reading = readRestOfLine(file, text) == LineEnd::NEWLINE;
            TEMBRA_ERROR("spaces at begin of line: " << text);
            continue;
        }

        const WordEnd wordEnd = readWord(file, key);
        if (wordEnd == WordEnd::LINE_ENDED) continue;
        // End of file before a key (a blank line at the end) assigns
        // nothing; neither does a key too long to be one.
        if (wordEnd != WordEnd::WORD) break;

        // Exactly one separator character, whatever it is: after a key
        // alone on its line that is the newline, and the next line is taken
        // as the value.
        if (isEnd(file.get())) break;
        const LineEnd lineEnd = readRestOfLine(file, text);
        // A file cut off right after its last key has no value to assign.
        if (lineEnd == LineEnd::END_OF_FILE && text.empty()) break;
        // What was read of an over-long line is still used; reading ends
        // after it.
        reading = lineEnd == LineEnd::NEWLINE;

        double* number = nullptr;
        if (key == "ALPHA") {
            number = &ALPHA;
        } else if (key == "LAMBDA") {
            number = &LAMBDA;
        } else if (key == "GAMMA") {
            number = &GAMMA;
        } else if (key == "ACTION_SELECTION") {
            if (text == "GREEDY") ACTION_SELECTION = GREEDY;
            else if (text == "EPSILON_GREEDY") ACTION_SELECTION = EPSILON_GREEDY;
            else if (text == "SOFTMAX") ACTION_SELECTION = SOFTMAX;
            else TEMBRA_ERROR("Unknown ActionSelection Algorithm " << text);
        } else if (key == "EPSILON") {
            number = &EPSILON;
        } else if (key == "TEMPERATURE") {
            number = &TEMPERATURE;
        } else if (key == "TRACES") {
            if (text == "REPLACING") TRACES = REPLACING;
            else if (text == "ACCUMULATING") TRACES = ACCUMULATING;
            else if (text == "NONE") TRACES = NONE;
            else TEMBRA_ERROR("Unknown Tracetype " << text);
        } else if (key == "TRACE_VALUE") {
            number = &TRACE_VALUE;
        }
        if (number != nullptr) {
            // atof: the longest valid prefix, 0.0 for no number at all. A
            // value that is not finite would only poison the weights.
            const double parsed = std::atof(text.c_str());
            if (std::isfinite(parsed)) *number = parsed;
            else TEMBRA_ERROR("Not a finite number for " << key << ": " << text);
        }
        // Any other key is ignored without a word.
    }
    // Opened but not readable (a directory, a failing disk): say so rather
    // than go on as if the file had been read.
    if (file.bad()) TEMBRA_ERROR("Was not able to read file (" << confFileName << ")");
    file.close();
}

// ---------------------------------------------------------------------------
// Signal control

void Tembra::installSignalHandler() {
    sigemptyset(&oldSigSet);
    sigemptyset(&newSigSet);
    for (const int sig : CONTROL_SIGNALS) sigaddset(&newSigSet, sig);
    if (sigprocmask(SIG_BLOCK, &newSigSet, &oldSigSet) == -1) {
        TEMBRA_ERROR("sigprocmask --> errno = " << errno << " - " << std::strerror(errno));
        // Nothing was blocked, so the destructor must unblock nothing: the
        // signals may be blocked by someone else who relies on that.
        sigemptyset(&oldSigSet);
        sigemptyset(&newSigSet);
    } else {
        if (blockingLearners == 0) sigemptyset(&deferredUnblock);
        ++blockingLearners;
    }
    sigemptyset(&pendingSignals);
}

void Tembra::removeSignalHandler() {
    // A learner whose blocking failed holds nothing and was not counted.
    const bool counted = holdsControlSignal(newSigSet);
    // Signals that were blocked before this learner stay blocked.
    for (const int sig : CONTROL_SIGNALS) {
        if (sigismember(&oldSigSet, sig) == 1) sigdelset(&newSigSet, sig);
    }
    if (!counted) return;

    sigset_t unblock = newSigSet;
    if (blockingLearners > 1) {
        --blockingLearners;
        for (const int sig : CONTROL_SIGNALS) {
            if (sigismember(&newSigSet, sig) == 1) sigaddset(&deferredUnblock, sig);
        }
        return;
    }
    if (blockingLearners == 1) {
        blockingLearners = 0;
        for (const int sig : CONTROL_SIGNALS) {
            if (sigismember(&deferredUnblock, sig) == 1) sigaddset(&unblock, sig);
        }
        sigemptyset(&deferredUnblock);
    }
    if (sigprocmask(SIG_UNBLOCK, &unblock, nullptr) == -1) {
        TEMBRA_ERROR("sigprocmask --> errno = " << errno << " - " << std::strerror(errno));
    }
}

void Tembra::checkPendingSignals() {
    if (sigpending(&pendingSignals) == -1) {
        TEMBRA_ERROR("sigpending --> errno = " << errno << " - " << std::strerror(errno));
        sigemptyset(&pendingSignals);
        return;
    }
    while (holdsControlSignal(pendingSignals)) {
        int sig = 0;
        // sigwait gives its error as the result and leaves errno alone.
        const int error = sigwait(&pendingSignals, &sig);
        if (error != 0) {
            // The set is unchanged, so waiting again would fail again:
            // leave the poll instead of spinning.
            TEMBRA_ERROR("errno = " << error << " --> " << std::strerror(error));
            return;
        }
        switch (sig) {
            case SIGUSR1: sigUsr1(); break;
            case SIGUSR2: sigUsr2(); break;
            case SIGTERM: sigTerm(); break;
            case SIGINT: sigInt(); break;
            default: TEMBRA_ERROR("Unknown signal = " << sig); break;
        }
        if (sigdelset(&pendingSignals, sig) == -1) return;
    }
}

void Tembra::sigUsr1() {
    TEMBRA_NOTICE("SIGUSR1 received --> load configuration");
    loadConf();
}

void Tembra::sigUsr2() { TEMBRA_NOTICE("SIGUSR2 received --> nothing implemented here!"); }

void Tembra::sigTerm() {
    TEMBRA_NOTICE("SIGTERM received --> stop learning (after episode)");
    sigTermRcvd = true;
}

void Tembra::sigInt() {
    TEMBRA_NOTICE("SIGINT received --> stop learning (after step)");
    sigIntRcvd = true;
}
