#ifndef TEMBRA_VARVALUES_H
#define TEMBRA_VARVALUES_H

#include <cstdio>
#include <string>

#include "Export.h"

// One named, bounded variable of a State. The State creates, owns and
// addresses its variables by id; the concrete kinds are VarValuesInt and
// VarValuesDouble. A variable is stored as a record of its name and bounds
// (its current value is not persisted).
class TEMBRA_API VarValues {
public:
    explicit VarValues(const std::string& varName);
    virtual ~VarValues();

    // Writes the variable record; 0 on success, -1 on a short write.
    virtual const int save(FILE* file) const = 0;
    // Reads one variable record; 0 on success, -1 on a short read (a name
    // length the file cannot hold counts as one). Fields read before the
    // failure keep their new contents.
    virtual const int load(FILE* file) = 0;

    const std::string& getName() const { return name; }
    void setName(const std::string& varName) { name = varName; }

protected:
    VarValues(const VarValues&) = default;
    VarValues& operator=(const VarValues&) = default;

    // Name part of the record shared by both kinds. saveName is false on a
    // short write; loadName gives 0, or -1 on a short read, which the
    // caller reports with errno (a length the file cannot hold is a short
    // read that is not attempted).
    const bool saveName(FILE* file) const;
    const int loadName(FILE* file);

    std::string name;
};

#endif
