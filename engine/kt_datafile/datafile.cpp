#include "engine/kt_datafile/datafile.h"

std::string_view trim_space(std::string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && is_space(text[begin])) begin++;
    while (end > begin && is_space(text[end - 1])) end--;
    return text.substr(begin, end - begin);
}

static bool is_separator_char(char c) { return c == ' ' || c == '\t'; }

bool next_token(std::string_view& line, std::string_view& token) {
    size_t i = 0;
    while (i < line.size() && is_separator_char(line[i])) i++;
    if (i == line.size()) {
        line = {};
        token = {};
        return false;
    }
    size_t end = i;
    while (end < line.size() && !is_separator_char(line[end])) end++;
    token = line.substr(i, end - i);
    line.remove_prefix(end);
    return true;
}
