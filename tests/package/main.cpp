// A program that uses tembra the way a user does: through the installed
// headers (<tembra/...>) and libtembra.so alone. The three consumer builds
// (find_package, add_subdirectory, pkg-config) all compile this file. When
// a learner exists, derive one here and run a few steps: that covers the
// exported vtables of the learner hierarchy too.
#include <tembra/AbstractAction.h>
#include <tembra/Utility.h>
#include <tembra/libtembra.h>

#include <iostream>
#include <sstream>

namespace {

// Deriving from a library class needs its typeinfo and vtable exported.
class Step : public AbstractAction {
public:
    explicit Step(int delta) : delta_(delta) {}
    void addInformation(std::ostream& os) const override { os << "step " << delta_; }

private:
    int delta_;
};

int failures = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        std::cerr << "consumer: " << what << " failed" << std::endl;
        ++failures;
    }
}

}  // namespace

int main() {
    // The base class' constructor, destructor and addInformation live in
    // the shared object; the base describes nothing.
    AbstractAction* base = new AbstractAction();
    std::ostringstream baseText;
    base->addInformation(baseText);
    delete base;
    check(baseText.str().empty(), "AbstractAction::addInformation");

    AbstractAction* action = new Step(2);
    std::ostringstream stepText;
    action->addInformation(stepText);
    delete action;
    check(stepText.str() == "step 2", "virtual call through AbstractAction");

    check(minMax(7, 0, 5) == 5, "minMax");
    setSeed(1);
    const int index = getRandomIndex(4);
    check(index >= 0 && index < 4, "getRandomIndex");

    if (failures != 0) return 1;
    std::cout << "tembra consumer ok" << std::endl;
    return 0;
}
