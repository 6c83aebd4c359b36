#ifndef TEMBRA_REPORTTEXTS_H
#define TEMBRA_REPORTTEXTS_H

#include <string>

// Report texts that several representations (or a representation and the
// learners) share. Users (and the tests) recognise a failure by its text,
// so each is written once here and cannot drift apart between them
// (internal: not installed).
namespace tembra_text {

// An operation that needs weights on a table or group that has none.
inline constexpr char NO_WEIGHTS[] = "weights == 0 --> Maybe forgot to call create?";

// A trace marked in ARRAY storage before initEligibilityTraces made the array ...
inline constexpr char NO_TRACE_ARRAY[] =
    "traceStorage == ARRAY and eTraces == 0 --> Set traceStorage to MAP or call initEligibilityTraces before calling "
    "updateWeights!";
// ... and the traces decayed before it.
inline constexpr char NO_TRACE_ARRAY_TO_DECAY[] =
    "traceStorage == ARRAY and eTraces == 0 --> Set traceStorage to MAP or call initEligibilityTraces before calling "
    "updateEligibilityTraces!";

// Followed by the storage's value.
inline constexpr char UNKNOWN_TRACE_STORAGE[] = "Unknown traceStorage = ";

// valueEpisode without a record of the episode's visits.
inline constexpr char NO_EPISODE_HISTORY[] =
    "episodeIndexHistorySet is empty! Did you forget to set ValueFunction::episodeStateHistory to true?";

// A body is the last thing in its file: a reader that has read a whole
// body and finds bytes after it has read someone else's file (a file names
// neither its kind nor its representation) or a damaged one.
inline std::string bytesAfterBody(const long long count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes") +
           " after the body --> the file is damaged or holds another kind of value function";
}

// An action index whose registry slot holds no action object: a Q function
// loaded from a file has only such slots until the program binds its
// actions, and a program that carries out that action would crash.
inline constexpr char NO_ACTIONS[] = "No actions registered! --> Register actions first!";

inline std::string unboundAction(const int actionIndex) {
    return "actionIndex " + std::to_string(actionIndex) +
           " holds no action --> bind the actions with setAction (a Q function loaded from a file has none)";
}

// True when two texts are the same, for tying a public copy of a text to
// the one here at compile time.
constexpr bool sameText(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

}  // namespace tembra_text

#endif
