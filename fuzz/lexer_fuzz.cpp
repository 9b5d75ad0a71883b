// fuzz/lexer_fuzz.cpp - feeds arbitrary bytes to the document lexer.
//
// Every input must tokenize to its end (each token consumes at least one byte) without
// reading out of bounds; an error stops the walk as it stops the parser.
#include <cstddef>
#include <cstdint>

#include "document/lexer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= (1u << 24)) return 0;
  Lexer lexer;
  lexer.source.Append(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size));
  lexer.file_name.Assign("fuzz.txt");
  ResetLexer(lexer);
  for (size_t tokens = 0; tokens <= size; ++tokens) {
    const TokenKind kind = NextToken(lexer);
    if (kind == TokenKind::kEof || lexer.error) return 0;
  }
  __builtin_trap();  // more tokens than bytes: the lexer stopped advancing
}
