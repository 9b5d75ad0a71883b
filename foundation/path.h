// foundation/path.h - splitting paths and building the paths the program names itself.
//
// Both "/" and "\\" separate folders when a path is read, on every platform. Paths the program
// builds use the platform's own separator, kPathSeparator. Paths are narrow byte strings passed
// to the file functions as they are; these operations only move bytes and never touch the file
// system.
#pragma once

#include "foundation/string_buffer.h"

/// The separator of the paths the program builds.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

/// True for both folder separators, "/" and "\\".
constexpr bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

/// Splits `path` at its last separator (the later of the last "/" and the last "\\"):
///   folder     everything up to and including that separator; empty when there is none
///   name       the file part before its last "."; the whole file part when it has no "."
///   extension  the file part after its last "." (without the dot); empty when it has no "."
/// A "." inside the folder never starts the extension. Any output may be null (not wanted);
/// `path` may be the text of one of the outputs.
void SplitPath(const char* path, CStringBufferA* folder, CStringBufferA* name,
               CStringBufferA* extension);

/// Writes `source` to `target` with every run of separators turned into one kPathSeparator
/// and separators at the end dropped: "D:/data//levels/" becomes "D:/data/levels" on POSIX
/// and "D:\data\levels" on Windows; "/" alone becomes the empty text. Bytes other than
/// separators are copied unchanged (a name in another code page survives). On Windows a
/// leading pair of separators (a network path) is kept as "\\\\". `source` may be target's
/// own text.
void NormalizeFolder(const char* source, CStringBufferA& target);

/// The default output path of a command: the input's folder (normalized), the platform
/// separator, the input's name without its extension, then `suffix`; just name and suffix when
/// the input has no folder. So "x/y/a.bin" with ".txt" gives "x/y/a.txt" on POSIX. `input`
/// may be target's own text; `suffix` must not be.
void DeriveOutputName(const char* input, CStringBufferA& target, const char* suffix);
