#ifndef TEMBRA_SARSA_H
#define TEMBRA_SARSA_H

#include <string>

#include "ActionValueFunction.h"
#include "Tembra.h"

// Sarsa(lambda): learns action values on-policy; the action the update
// bootstraps from is the one taken next. The learner owns avfPtr.
class TEMBRA_API Sarsa : public Tembra {
public:
    explicit Sarsa(const std::string& fileName);
    ~Sarsa() override;

    // Tembra's loop, once every registered action is bound (reported
    // otherwise): the using program's takeAction carries out the action.
    void controlLoop() override;

protected:
    void initEpisode() override;
    void step() override;
    const bool checkValueFunction() const override;

    // Chooses the active action by ACTION_SELECTION and sets value to its
    // estimate; an unknown rule is reported and changes nothing.
    void selectAction();

    ActionValueFunction* avfPtr;
};

#endif
