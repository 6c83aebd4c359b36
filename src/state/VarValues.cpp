#include "VarValues.h"

#include <cerrno>
#include <vector>

#include "core/FileIO.h"
#include "Report.h"

VarValues::VarValues(const std::string& varName) : name(varName) {}

VarValues::~VarValues() = default;

const bool VarValues::saveName(FILE* file) const {
    return tembra_io::writeUInt32(file, static_cast<uint32_t>(name.size())) &&
           tembra_io::writeBytes(file, name.data(), name.size());
}

const int VarValues::loadName(FILE* file) {
    uint32_t stringSize = 0;
    if (!tembra_io::readUInt32(file, stringSize)) return -1;
    // A damaged length must not become a huge allocation: the name has to
    // fit in what is left of the file.
    // The read could only come up short: say why, and leave errno as a
    // short read at end of file leaves it, for the caller's errno report.
    if (!tembra_io::fits(file, stringSize, 1)) {
        TEMBRA_ERROR("stringSize = " << stringSize << " --> larger than the rest of the file");
        errno = 0;
        return -1;
    }
    std::vector<char> buffer(stringSize);
    if (!tembra_io::readBytes(file, buffer.data(), stringSize)) return -1;
    name.assign(buffer.data(), stringSize);
    return 0;
}
