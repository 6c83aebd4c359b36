#include "AbstractAction.h"

AbstractAction::~AbstractAction() = default;

void AbstractAction::addInformation(std::ostream&) const {}
