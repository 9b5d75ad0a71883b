// types/type_library.h - the type library file (".tl") and the search for a game's .bin files.
//
// A type library holds the merged class types of every .bin file of a game installation:
//
//   offset  size  content
//   0       4     magic "BILT" (42 49 4C 54)
//   4       rest  one type information stream (class count, then the class records)
//
// Nothing follows the stream but the zero bits that complete its last byte, so a library
// without classes is the 8 bytes 42 49 4C 54 00 00 00 00. Bytes after the stream are ignored
// when reading. Writing is atomic (an existing file is replaced whole or left alone).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "types/type_stream.h"

/// The magic at the start of every type library.
inline constexpr char kTypeLibraryMagic[4] = {'B', 'I', 'L', 'T'};
/// Default file name of the type library.
inline constexpr const char* kDefaultTypeLibraryName = "QVX.tl";

/// Writes every class of `registry` to a type library at `path`. False when the stream cannot
/// be built or the file cannot be written.
[[nodiscard]] bool SaveTypelib(const TypeRegistry& registry, const char* path);
/// Adds the classes of the type library at `path` to `registry`; a class whose name hash the
/// registry already holds keeps its definition. False when the file cannot be read, is
/// shorter than 4 bytes, does not start with the magic, or its stream is malformed (classes
/// read before the fault stay in the registry).
[[nodiscard]] bool LoadTypelib(TypeRegistry& registry, const char* path);

/// Replaces `paths` by the full path of every file under `folder` whose name ends in ".bin"
/// in any letter case: a folder's own files in byte-wise ascending name order, then each
/// subfolder's whole tree, subfolders in the same order. Returns the number of paths; 0 when
/// the folder cannot be read.
uint32_t ScanBinFiles(std::vector<std::string>& paths, const char* folder);
