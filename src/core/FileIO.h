#ifndef TEMBRA_FILEIO_H
#define TEMBRA_FILEIO_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Every field of the library's binary files goes through these helpers:
// fixed-width little-endian int32, uint32 and float64 values, so that the
// i386 and x86_64 builds write and read the same bytes. Each returns true
// when the whole item (or array) was transferred; the caller reports a
// short transfer with TEMBRA_ERRNO_WIDE or TEMBRA_ERRNO_NARROW. A failed
// transfer leaves errno 0 exactly when a read found the end of the file
// (those forms then say that the file ends early); any other failure
// leaves the errno of the error.
//
// The readers never trust a count: before allocating for N items they ask
// remainingBytes() whether the file can still hold them.
namespace tembra_io {

bool writeInt32(FILE* file, int32_t value);
bool writeUInt32(FILE* file, uint32_t value);
bool writeDouble(FILE* file, double value);
bool writeBytes(FILE* file, const void* data, std::size_t count);
bool writeInt32Array(FILE* file, const int* values, std::size_t count);
bool writeDoubleArray(FILE* file, const double* values, std::size_t count);

bool readInt32(FILE* file, int32_t& value);
bool readUInt32(FILE* file, uint32_t& value);
bool readDouble(FILE* file, double& value);
bool readBytes(FILE* file, void* data, std::size_t count);
bool readInt32Array(FILE* file, int* values, std::size_t count);
bool readDoubleArray(FILE* file, double* values, std::size_t count);

// Bytes between the stream's position and its end; -1 when the stream
// cannot tell (not seekable). The position is left where it was.
long long remainingBytes(FILE* file);

// Bytes left unread after what a reader took from the file: exact for a
// stream that can tell its size; otherwise 1 when one more byte can be
// read (it is consumed), 0 when none.
long long bytesLeft(FILE* file);

// True when count items of itemSize bytes can still be read from the file.
// A stream that cannot tell its size is given the benefit of the doubt
// only for counts that are not absurd on their own.
bool fits(FILE* file, long long count, long long itemSize);

}  // namespace tembra_io

#endif
