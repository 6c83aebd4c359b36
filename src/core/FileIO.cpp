#include "core/FileIO.h"

#include <cerrno>
#include <cstring>
#include <sys/types.h>

namespace tembra_io {

namespace {

// Conversions between host values and little-endian bytes, written with
// shifts so that they hold on any host.
inline void putLE32(unsigned char* out, uint32_t v) {
    out[0] = static_cast<unsigned char>(v);
    out[1] = static_cast<unsigned char>(v >> 8);
    out[2] = static_cast<unsigned char>(v >> 16);
    out[3] = static_cast<unsigned char>(v >> 24);
}

inline uint32_t getLE32(const unsigned char* in) {
    return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) | (static_cast<uint32_t>(in[2]) << 16) |
           (static_cast<uint32_t>(in[3]) << 24);
}

inline void putLE64(unsigned char* out, uint64_t v) {
    putLE32(out, static_cast<uint32_t>(v));
    putLE32(out + 4, static_cast<uint32_t>(v >> 32));
}

inline uint64_t getLE64(const unsigned char* in) {
    return static_cast<uint64_t>(getLE32(in)) | (static_cast<uint64_t>(getLE32(in + 4)) << 32);
}

inline uint64_t doubleBits(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits;
}

inline double bitsDouble(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// A short read at end of file leaves errno as it was: it is cleared first,
// so that the report does not quote a stale error from somewhere else and
// can tell the end of the file (errno 0) from an error. A failed transfer
// that set no errno although it was no end of file is given EIO, so that
// errno 0 never stands for anything but the end of the file.
inline bool readExactly(FILE* file, void* data, std::size_t count) {
    if (count == 0) return true;
    if (file == nullptr) {
        errno = EBADF;
        return false;
    }
    errno = 0;
    if (std::fread(data, 1, count, file) == count) return true;
    if (errno == 0 && std::ferror(file)) errno = EIO;
    return false;
}

inline bool writeExactly(FILE* file, const void* data, std::size_t count) {
    if (count == 0) return true;
    if (file == nullptr) {
        errno = EBADF;
        return false;
    }
    errno = 0;
    if (std::fwrite(data, 1, count, file) == count) return true;
    if (errno == 0) errno = EIO;
    return false;
}

// Arrays go through a small buffer in chunks: one library call per chunk,
// not per value, and no allocation.
constexpr std::size_t CHUNK_ITEMS = 512;

}  // namespace

bool writeInt32(FILE* file, int32_t value) {
    unsigned char bytes[4];
    putLE32(bytes, static_cast<uint32_t>(value));
    return writeExactly(file, bytes, sizeof bytes);
}

bool writeUInt32(FILE* file, uint32_t value) {
    unsigned char bytes[4];
    putLE32(bytes, value);
    return writeExactly(file, bytes, sizeof bytes);
}

bool writeDouble(FILE* file, double value) {
    unsigned char bytes[8];
    putLE64(bytes, doubleBits(value));
    return writeExactly(file, bytes, sizeof bytes);
}

bool writeBytes(FILE* file, const void* data, std::size_t count) { return writeExactly(file, data, count); }

bool writeInt32Array(FILE* file, const int* values, std::size_t count) {
    unsigned char buffer[CHUNK_ITEMS * 4];
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = (count - done < CHUNK_ITEMS) ? count - done : CHUNK_ITEMS;
        for (std::size_t i = 0; i < n; ++i) {
            putLE32(buffer + 4 * i, static_cast<uint32_t>(static_cast<int32_t>(values[done + i])));
        }
        if (!writeExactly(file, buffer, 4 * n)) return false;
        done += n;
    }
    return true;
}

bool writeDoubleArray(FILE* file, const double* values, std::size_t count) {
    unsigned char buffer[CHUNK_ITEMS * 8];
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = (count - done < CHUNK_ITEMS) ? count - done : CHUNK_ITEMS;
        for (std::size_t i = 0; i < n; ++i) putLE64(buffer + 8 * i, doubleBits(values[done + i]));
        if (!writeExactly(file, buffer, 8 * n)) return false;
        done += n;
    }
    return true;
}

bool readInt32(FILE* file, int32_t& value) {
    unsigned char bytes[4];
    if (!readExactly(file, bytes, sizeof bytes)) return false;
    value = static_cast<int32_t>(getLE32(bytes));
    return true;
}

bool readUInt32(FILE* file, uint32_t& value) {
    unsigned char bytes[4];
    if (!readExactly(file, bytes, sizeof bytes)) return false;
    value = getLE32(bytes);
    return true;
}

bool readDouble(FILE* file, double& value) {
    unsigned char bytes[8];
    if (!readExactly(file, bytes, sizeof bytes)) return false;
    value = bitsDouble(getLE64(bytes));
    return true;
}

bool readBytes(FILE* file, void* data, std::size_t count) { return readExactly(file, data, count); }

bool readInt32Array(FILE* file, int* values, std::size_t count) {
    unsigned char buffer[CHUNK_ITEMS * 4];
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = (count - done < CHUNK_ITEMS) ? count - done : CHUNK_ITEMS;
        if (!readExactly(file, buffer, 4 * n)) return false;
        for (std::size_t i = 0; i < n; ++i) values[done + i] = static_cast<int32_t>(getLE32(buffer + 4 * i));
        done += n;
    }
    return true;
}

bool readDoubleArray(FILE* file, double* values, std::size_t count) {
    unsigned char buffer[CHUNK_ITEMS * 8];
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = (count - done < CHUNK_ITEMS) ? count - done : CHUNK_ITEMS;
        if (!readExactly(file, buffer, 8 * n)) return false;
        for (std::size_t i = 0; i < n; ++i) values[done + i] = bitsDouble(getLE64(buffer + 8 * i));
        done += n;
    }
    return true;
}

long long remainingBytes(FILE* file) {
    if (file == nullptr) return -1;
    const int savedErrno = errno;
    const off_t here = ftello(file);
    if (here < 0 || fseeko(file, 0, SEEK_END) != 0) {
        errno = savedErrno;
        return -1;
    }
    const off_t end = ftello(file);
    fseeko(file, here, SEEK_SET);
    errno = savedErrno;
    if (end < here) return 0;
    return static_cast<long long>(end - here);
}

long long bytesLeft(FILE* file) {
    const long long left = remainingBytes(file);
    if (left >= 0 || file == nullptr) return left < 0 ? 0 : left;
    return std::fgetc(file) == EOF ? 0 : 1;
}

bool fits(FILE* file, long long count, long long itemSize) {
    if (count < 0 || itemSize < 0) return false;
    const long long left = remainingBytes(file);
    // A stream that cannot tell: refuse only what could never be a file
    // of this library (more than 2^31 items or bytes).
    if (left < 0) return count <= 0x7fffffffLL && count * itemSize <= 0x7fffffffLL;
    if (itemSize == 0) return true;
    return count <= left / itemSize;
}

}  // namespace tembra_io
