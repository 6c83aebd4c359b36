#ifndef TEMBRA_EXPORT_H
#define TEMBRA_EXPORT_H

// The library is built with hidden visibility; everything a using program
// names (the classes it derives from or builds) carries this mark.
#if defined(__GNUC__) || defined(__clang__)
#define TEMBRA_API __attribute__((visibility("default")))
#else
#define TEMBRA_API
#endif

#endif
