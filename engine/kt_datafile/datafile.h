// Reading line-based text data files: trimming and blank-separated tokens.
#pragma once
#include <string_view>

// True for the white space that surrounds values in our text files:
// blank, TAB, CR, LF, vertical tab and form feed.
inline bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The text without white space at either end.
std::string_view trim_space(std::string_view text);

// Takes the next token of `line`: skips blanks and TABs, then the token is
// the run up to the next blank, TAB or the end. `line` is advanced to just
// after the token (it then starts with the separator). At the end of the
// line both `line` and `token` become empty and the result is false.
bool next_token(std::string_view& line, std::string_view& token);
