#ifndef TEMBRA_TRACESTEPS_H
#define TEMBRA_TRACESTEPS_H

#include <map>

// The two per-step trace operations of the lookup tables and the tilings
// groups, on dense trace arrays (parallel to the weights), on sparse trace
// maps (weight index -> trace) and on sparse trace lists (indices and
// traces side by side) alike. Inline: they run at every step
// (internal: not installed).
namespace tembra_traces {

// weights[i] += factor * traces[i] for every weight.
inline void addAlong(double* weights, const double* traces, const int size, const double factor) {
    for (int i = 0; i < size; ++i) weights[i] = weights[i] + factor * traces[i];
}

// weights[i] += factor * trace for every entry (i, trace). An entry outside
// [0, size) is passed over: entries always index the weights, but one that
// a subclass put elsewhere must not make us write outside them.
inline void addAlong(double* weights, const int size, const std::map<int, double>& traces, const double factor) {
    for (std::map<int, double>::const_iterator it = traces.begin(); it != traces.end(); ++it) {
        if (it->first < 0 || it->first >= size) continue;
        weights[it->first] = weights[it->first] + factor * it->second;
    }
}

// weights[indices[k]] += factor * traces[k] for the count entries of a
// sparse list, whose indices always lie inside the weights.
inline void addAlong(double* weights, const int* indices, const double* traces, const int count, const double factor) {
    for (int k = 0; k < count; ++k) weights[indices[k]] = weights[indices[k]] + factor * traces[k];
}

// Every trace times factor (also the traces of a sparse list). Map entries
// are never pruned.
inline void decay(double* traces, const int size, const double factor) {
    for (int i = 0; i < size; ++i) traces[i] = traces[i] * factor;
}

inline void decay(std::map<int, double>& traces, const double factor) {
    for (std::map<int, double>::iterator it = traces.begin(); it != traces.end(); ++it) {
        it->second = it->second * factor;
    }
}

}  // namespace tembra_traces

#endif
