// fuzz/number_fuzz.cpp - feeds arbitrary bytes to the number rules of the lexer and to the
// float text form.
//
// The first byte picks the check:
//   even  the rest is a document text: every number token must convert (NumberToDouble) to the
//         double that strtod gives for the token's own characters, MatchFloatWord must match
//         within the text and give an infinity or a NaN, and whenever a primitive type reads
//         the whole text as a plain value (ParsePlainText), its ParseValue must read it too,
//         to the same payload;
//   odd   the rest is a run of 4-byte float bit patterns: the text of each (FormatFloat) must
//         read back through MatchFloatWord or the lexer to the same bits (a NaN to the quiet
//         NaN of its sign), and must be printf's "%G" whenever that text reads back too.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "document/lexer.h"
#include "fuzz/fuzz_support.h"
#include "types/float_text.h"
#include "types/primitive_types.h"

namespace {

uint64_t Bits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return bits;
}

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return bits;
}

bool IsNumberCharacter(char c) {
  return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

void CheckNumberTokens(const uint8_t* data, size_t size) {
  Lexer lexer;
  lexer.source.Append(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size));
  lexer.file_name.Assign("fuzz.txt");
  ResetLexer(lexer);
  for (size_t tokens = 0; tokens <= size; ++tokens) {
    const uint32_t before = lexer.position;
    const TokenKind kind = NextToken(lexer);
    if (kind == TokenKind::kEof || lexer.error || kind == TokenKind::kError) return;
    if (kind != TokenKind::kNumber) continue;
    // The token is the run of number characters that ends where the lexer stopped: what comes
    // before it inside the skipped stretch is white space or the end of a comment.
    uint32_t start = lexer.position;
    while (start > before && IsNumberCharacter(lexer.source.data[start - 1])) --start;
    const std::string text(lexer.source.data + start, lexer.position - start);
    const double expected = std::strtod(text.c_str(), nullptr);
    FuzzCheck(Bits(NumberToDouble(lexer.number)) == Bits(expected));
  }
}

void CheckFloatWords(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (size_t at = 0; at < text.size(); ++at) {
    float value = 0.0f;
    const uint32_t matched = MatchFloatWord(text.c_str() + at, value);
    if (matched == 0) continue;
    FuzzCheck(matched <= std::strlen(text.c_str() + at));
    FuzzCheck(std::isinf(value) || std::isnan(value));
  }
}

void CheckPlainTexts(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const CCoreType* const types[] = {&CBoolType,    &CByteType,    &CShortType,
                                    &CIntType,     &CFloatType,   &CVector2Type,
                                    &CVector3Type, &CVector4Type, &CQuatType,
                                    &CHashType,    &CPointerType, &CAxisAlignedBoundingBoxType};
  // The text as it stands in a document line: followed by its closing quote.
  const std::string quoted = text + "\"\r\n";
  for (const CCoreType* type : types) {
    ValueNode plain{};
    const bool taken = type->ParsePlainText(text.c_str(), static_cast<uint32_t>(size), plain);
    ValueNode in_place{};
    const uint32_t read = type->ReadPlainPrefix(quoted.c_str(), in_place);
    FuzzCheck(read <= size);
    if (text.find('"') == std::string::npos && text.find('\0') == std::string::npos) {
      FuzzCheck((read != 0 && quoted[read] == '"') == taken);
    }
    if (!taken) continue;
    FuzzCheck(std::memcmp(&plain.payload, &in_place.payload, sizeof plain.payload) == 0);
    ValueNode parsed{};
    Lexer lexer;
    ResetLexerOver(lexer, text.c_str(), static_cast<uint32_t>(size), 0);
    FuzzCheck(type->ParseValue(lexer, parsed, nullptr));
    FuzzCheck(std::memcmp(&plain.payload, &parsed.payload, sizeof plain.payload) == 0);
  }
}

void CheckFloatText(float value) {
  char text[kFloatTextCapacity];
  const uint32_t length = FormatFloat(value, text);
  FuzzCheck(length < kFloatTextCapacity && std::strlen(text) == length);

  uint32_t expected = Bits(value);
  if (std::isnan(value)) expected = (expected & 0x80000000u) | 0x7FC00000u;
  float word_value = 0.0f;
  const uint32_t matched = MatchFloatWord(text, word_value);
  if (matched != 0) {
    FuzzCheck(matched == length && Bits(word_value) == expected);
  } else {
    Lexer lexer;
    lexer.source.Append(text, length);
    ResetLexer(lexer);
    FuzzCheck(NextToken(lexer) == TokenKind::kNumber && lexer.position == length);
    FuzzCheck(Bits(static_cast<float>(NumberToDouble(lexer.number))) == expected);
  }

  if (std::isfinite(value)) {
    char printed[64];
    std::snprintf(printed, sizeof(printed), "%G", static_cast<double>(value));
    if (Bits(static_cast<float>(std::strtod(printed, nullptr))) == Bits(value)) {
      FuzzCheck(std::strcmp(printed, text) == 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxFuzzInputBytes) return 0;
  if (data[0] % 2 == 0) {
    CheckNumberTokens(data + 1, size - 1);
    CheckFloatWords(data + 1, size - 1);
    CheckPlainTexts(data + 1, size - 1);
  } else {
    for (size_t at = 1; at + 4 <= size; at += 4) {
      float value;
      std::memcpy(&value, data + at, sizeof(value));
      CheckFloatText(value);
    }
  }
  return 0;
}
