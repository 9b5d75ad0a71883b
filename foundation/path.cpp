// foundation/path.cpp - path splitting and the folder and output-name rules.
#include "foundation/path.h"

#include <cstddef>

namespace {

// Paths up to this length are worked on without touching the heap.
constexpr uint32_t kInlinePathChars = 260;

void AssignBytes(CStringBufferA& target, const char* bytes, size_t count) {
  target.Clear(false);
  if (count != 0) {
    target.Append(bytes, static_cast<uint32_t>(count));
  }
}

}  // namespace

void SplitPath(const char* path, CStringBufferA* folder, CStringBufferA* name,
               CStringBufferA* extension) {
  // Work on a copy: the path may be the text of one of the outputs.
  const TStringBufferA<kInlinePathChars> copy(path);
  const char* text = copy.data;
  const size_t length = copy.length;

  size_t file_start = 0;
  for (size_t i = 0; i < length; ++i) {
    if (IsPathSeparator(text[i])) {
      file_start = i + 1;
    }
  }
  size_t dot = length;  // no dot: the name is the whole file part
  for (size_t i = file_start; i < length; ++i) {
    if (text[i] == '.') {
      dot = i;
    }
  }

  if (folder != nullptr) {
    AssignBytes(*folder, text, file_start);
  }
  if (name != nullptr) {
    AssignBytes(*name, text + file_start, dot - file_start);
  }
  if (extension != nullptr) {
    const size_t extension_start = dot < length ? dot + 1 : length;
    AssignBytes(*extension, text + extension_start, length - extension_start);
  }
}

void NormalizeFolder(const char* source, CStringBufferA& target) {
  // Built aside and assigned at the end: the source may be the target's own text.
  TStringBufferA<kInlinePathChars> result;
  const char* p = source == nullptr ? "" : source;
#ifdef _WIN32
  // "\\\\server\\share" names a network share; folding its leading pair would point the path at
  // the root of the current drive instead.
  if (IsPathSeparator(p[0]) && IsPathSeparator(p[1]) && p[2] != '\0' && !IsPathSeparator(p[2])) {
    result.Append("\\\\");
    p += 2;
  }
#endif
  // Separators are ASCII and never occur inside a multi-byte UTF-8 character, so copying every
  // other byte unchanged keeps characters whole; bytes of another code page survive as well.
  bool separator_pending = false;
  while (*p != '\0') {
    if (IsPathSeparator(*p)) {
      separator_pending = true;
      ++p;
      continue;
    }
    if (separator_pending) {
      result.AppendChar(kPathSeparator);
      separator_pending = false;
    }
    const char* run = p;
    while (*p != '\0' && !IsPathSeparator(*p)) {
      ++p;
    }
    result.Append(run, static_cast<uint32_t>(p - run));
  }
  target.Assign(result.data);
}

void DeriveOutputName(const char* input, CStringBufferA& target, const char* suffix) {
  TStringBufferA<kInlinePathChars> folder;
  TStringBufferA<kInlinePathChars> name;
  SplitPath(input, &folder, &name, nullptr);
  if (suffix == nullptr) {
    suffix = "";
  }
  if (folder.length != 0) {
    // A folder of separators only normalizes to nothing; the separator written here keeps the
    // output at the root ("/a.bin" gives "/a.txt").
    NormalizeFolder(folder.data, folder);
    target.Format("%s%c%s%s", folder.data, kPathSeparator, name.data, suffix);
  } else {
    target.Format("%s%s", name.data, suffix);
  }
}
