#ifndef TEMBRA_WATKINS_H
#define TEMBRA_WATKINS_H

#include <string>

#include "ActionValueFunction.h"
#include "Tembra.h"

// Watkins' Q(lambda): learns action values off-policy. The update always
// bootstraps from the greedy action; an exploratory action, chosen at the
// start of the next step, cuts the traces. The learner owns avfPtr.
class TEMBRA_API Watkins : public Tembra {
public:
    explicit Watkins(const std::string& fileName);
    ~Watkins() override;

    // Tembra's loop, once every registered action is bound (reported
    // otherwise): the using program's takeAction carries out the action.
    void controlLoop() override;

protected:
    void initEpisode() override;
    void step() override;
    const bool checkValueFunction() const override;

    ActionValueFunction* avfPtr;

private:
    // The exploration at the start of a step, with its effect on the
    // traces; false, changing nothing, for an ACTION_SELECTION it does not know.
    inline bool explore();
};

#endif
