#ifndef TEMBRA_ABSTRACTACTION_H
#define TEMBRA_ABSTRACTACTION_H

#include <ostream>

#include "Export.h"

// Base of the actions a using program defines. An action value function
// takes ownership of the actions registered with it and destroys them
// through the virtual destructor.
class TEMBRA_API AbstractAction {
public:
    AbstractAction() = default;
    AbstractAction(const AbstractAction&) = default;
    AbstractAction& operator=(const AbstractAction&) = default;
    virtual ~AbstractAction();

    // Describes the action; a hook for the using program, the base writes nothing.
    virtual void addInformation(std::ostream& os) const;
};

#endif
