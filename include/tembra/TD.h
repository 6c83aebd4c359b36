#ifndef TEMBRA_TD_H
#define TEMBRA_TD_H

#include <string>

#include "StateValueFunction.h"
#include "Tembra.h"

// TD(lambda): learns the state values of the policy the using program
// follows in its takeAction hook. The learner owns svfPtr and deletes it.
class TEMBRA_API TD : public Tembra {
public:
    explicit TD(const std::string& fileName);
    ~TD() override;

protected:
    void initEpisode() override;
    void step() override;
    const bool checkValueFunction() const override;

    StateValueFunction* svfPtr;
};

#endif
