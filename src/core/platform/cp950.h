#pragma once
// Code page 950 (Traditional Chinese, Big5 with the Microsoft additions) for
// the files that carry Chinese text: the production-test report and the
// history exports. Texts are UTF-8 everywhere else.
#include <string>
#include <string_view>

namespace bms {

// UTF-8 to code page 950. A character that has no code (or a byte that is no
// valid UTF-8) becomes '?'; the rest of the text is kept.
std::string Utf8ToCp950(std::string_view utf8);

// Code page 950 to UTF-8. A byte sequence that is no valid code (a lone lead
// byte, an unassigned double-byte code) becomes '?'.
std::string Cp950ToUtf8(std::string_view cp950);

}  // namespace bms
