#pragma once

// What the reader's control words and bytes stand for: the destinations it skips, the
// underline and symbol words, and code page 1252.

#include <string_view>

namespace k9::rtf {

char16_t fromCp1252(unsigned char byte);
bool isSkippedDestination(std::string_view word);
bool isUnderlineWord(std::string_view word);
// 0 when the word is not one that stands for one character.
char16_t symbolFor(std::string_view word);

}  // namespace k9::rtf
