// fuzz/lexer_fuzz.cpp - feeds arbitrary bytes to the document lexer.
//
// Every input must tokenize to its end (each token consumes at least one byte) without
// reading out of bounds; an error stops the walk as it stops the parser. Before each token,
// the line that may start there is also taken in one step (TakeLineToken, with the TABs and
// the name that stand there and with one TAB more), which must read exactly what reading its
// tokens one by one reads, or nothing.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "document/lexer.h"

namespace {

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// Takes the line at `at`'s position with `tabs` TABs and the name (none when `length` is 0),
// and checks it against NextToken from the same place.
void CheckLineToken(const Lexer& at, Lexer& taking, Lexer& reading, uint32_t tabs, const char* name,
                    uint32_t length) {
  taking.position = at.position;
  taking.line = at.line;
  taking.current_kind = TokenKind::kNone;
  const TokenKind kind = TakeLineToken(taking, tabs, name, length);
  if (kind == TokenKind::kNone) {
    Check(taking.position == at.position && taking.line == at.line &&
          taking.current_kind == TokenKind::kNone);
    return;
  }
  reading.position = at.position;
  reading.line = at.line;
  reading.error = false;
  if (length != 0) {
    Check(NextToken(reading) == TokenKind::kIdentifier &&
          reading.identifier_value.length == length &&
          std::memcmp(reading.identifier_value.data, name, length) == 0);
    Check(NextToken(reading) == TokenKind::kEquals);
  }
  Check(NextToken(reading) == kind && taking.current_kind == kind &&
        taking.position == reading.position && taking.line == reading.line);
  if (kind == TokenKind::kString) {
    Check(taking.string_value.length == reading.string_value.length &&
          std::memcmp(taking.string_value.data, reading.string_value.data,
                      reading.string_value.length + 1) == 0);
  }
  reading.diagnostics.Empty();
}

// Checks the lines that may start at `lexer`'s position: CR LF, the TABs there, and the
// identifier after them as the name.
void CheckLinesAt(const Lexer& lexer, Lexer& taking, Lexer& reading) {
  const char* const data = LexerText(lexer);
  const uint32_t length = LexerTextLength(lexer);
  uint32_t at = lexer.position;
  // An optional comment is the lexer's to skip; the TABs are counted after the first LF.
  while (at < length && data[at] != '\n') ++at;
  uint32_t tabs = 0;
  for (++at; at < length && data[at] == '\t'; ++at) ++tabs;
  uint32_t name_length = 0;
  while (at + name_length < length && name_length < 64 &&
         std::strchr("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@",
                     data[at + name_length]) != nullptr &&
         data[at + name_length] != '\0') {
    ++name_length;
  }
  char name[65] = {};
  std::memcpy(name, data + (at < length ? at : length), at < length ? name_length : 0);
  for (const uint32_t t : {tabs, tabs + 1}) {
    CheckLineToken(lexer, taking, reading, t, nullptr, 0);
    if (name_length != 0 && IsPlainIdentifier(name, name_length)) {
      CheckLineToken(lexer, taking, reading, t, name, name_length);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= (1u << 24)) return 0;
  Lexer lexer;
  lexer.source.Append(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size));
  lexer.file_name.Assign("fuzz.txt");
  ResetLexer(lexer);
  Lexer taking;
  SetLexerText(taking, LexerText(lexer), LexerTextLength(lexer));
  Lexer reading;
  SetLexerText(reading, LexerText(lexer), LexerTextLength(lexer));
  for (size_t tokens = 0; tokens <= size; ++tokens) {
    CheckLinesAt(lexer, taking, reading);
    const TokenKind kind = NextToken(lexer);
    if (kind == TokenKind::kEof || lexer.error) return 0;
  }
  __builtin_trap();  // more tokens than bytes: the lexer stopped advancing
}
