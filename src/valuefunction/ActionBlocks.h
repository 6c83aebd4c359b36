#ifndef TEMBRA_ACTIONBLOCKS_H
#define TEMBRA_ACTIONBLOCKS_H

// The action-value representations keep the weights of one state (a
// table's state, a tilings group's tile) as a block of one run of weights
// per action, the actions in registration order (internal: not installed).
namespace tembra_actions {

// Copies the size weights of from, blocks of actions runs of run weights
// each, into to without the run of action removed: every block loses that
// run, and the runs after it move down by one place. to holds
// size / actions * (actions - 1) weights.
inline void copyWithoutAction(const double* from, const int size, const int actions, const int run, const int removed,
                              double* to) {
    int next = 0;
    for (int block = 0; block < size; block += actions * run) {
        for (int a = 0; a < actions; ++a) {
            if (a == removed) continue;
            for (int w = 0; w < run; ++w) to[next++] = from[block + run * a + w];
        }
    }
}

// Copies the size weights of from, blocks of actions runs of run weights
// each, into to with a run for one more action appended to every block,
// its weights from one call of init each, in index order. to holds
// size / actions * (actions + 1) weights.
inline void copyWithNewAction(const double* from, const int size, const int actions, const int run,
                              const double (*init)(), double* to) {
    int next = 0;
    for (int block = 0; block < size; block += actions * run) {
        for (int w = 0; w < actions * run; ++w) to[next++] = from[block + w];
        for (int w = 0; w < run; ++w) to[next++] = init();
    }
}

// The number of weights of a layout of size weights for actions actions
// when one more action is added; -1 when that would not fit an int.
inline long long sizeWithNewAction(const int size, const int actions) {
    if (actions < 1) return -1;
    const long long grown = static_cast<long long>(size) / actions * (actions + 1LL);
    return grown > 2147483647LL ? -1 : grown;
}

}  // namespace tembra_actions

#endif
