// foundation/inline.h - inlining a hot helper where the compiler would not.
//
// GCC and Clang weigh inlining by size: a helper called from several places stays a call even
// where it runs once for every value of a document, and the call's own cost (saving registers,
// passing the context) is then a good part of the helper's. Such helpers are marked
// QVX_ALWAYS_INLINE; other compilers decide for themselves.
#pragma once

#if defined(__GNUC__)
#define QVX_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define QVX_ALWAYS_INLINE inline
#endif
