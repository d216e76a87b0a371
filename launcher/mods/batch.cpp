#include "launcher/mods/batch.h"

#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"

namespace {

bool begins(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}
bool ends(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}
bool contains(std::string_view s, std::string_view part) { return s.find(part) != std::string_view::npos; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Appends to an expansion, keeping it within bat_line_max; going over sets
// the flag (the caller then stops the run) and keeps the text short.
struct Capped {
    std::string s;
    bool over = false;
    void add(std::string_view part) {
        if (over) return;
        if (part.size() > bat_line_max - s.size()) {
            s.append(part.substr(0, bat_line_max - s.size()));
            over = true;
            return;
        }
        s.append(part);
    }
    void add(char c) { add(std::string_view(&c, 1)); }
};

// A variable's value (empty when unset); the lookup and the copy count as
// work.
std::string lookup(const std::map<std::string, std::string>& vars, std::string_view name, int64_t* work) {
    auto it = vars.find(ascii_lower(name));
    if (work) *work += bat_lookup_work + int64_t(name.size()) + (it == vars.end() ? 0 : int64_t(it->second.size()));
    return it == vars.end() ? std::string() : it->second;
}

// The digits of a substring bound: an optional sign, an optional base
// prefix, then digits up to the first character that is not one. Saturates
// far outside any line's length.
int64_t leading_int(std::string_view s) {
    s = trim_space(s);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    int base = take_base_prefix(s);
    int64_t v = 0;
    for (char c : s) {
        if (c == '_') continue;
        int d = digit_value(c);
        if (d >= base) break;
        v = v * base + d;
        if (v > (int64_t(1) << 40)) v = int64_t(1) << 40;
    }
    return negative ? -v : v;
}

// Replaces every `old` (letter case ignored) in `value` by `repl`.
std::string replace_all(std::string_view value, std::string_view old, std::string_view repl, bool* too_long,
                        int64_t* work) {
    if (old.empty()) return std::string(value);
    // Lower-cased, scanned and copied piece by piece: slower than a copy;
    // each match is a search and two appends of its own.
    if (work) *work += 16 * int64_t(value.size()) + int64_t(old.size());
    std::string low_value = ascii_lower(value), low_old = ascii_lower(old);
    Capped out;
    size_t i = 0;
    for (;;) {
        size_t at = low_value.find(low_old, i);
        if (at == std::string::npos) break;
        out.add(value.substr(i, at - i));
        out.add(repl);
        i = at + old.size();
        if (work) *work += bat_match_work + int64_t(repl.size());
        if (out.over) break;
    }
    out.add(value.substr(i));
    if (out.over && too_long) *too_long = true;
    return out.s;
}

std::string bang_one(std::string_view inner, const std::map<std::string, std::string>& vars, bool* too_long,
                     int64_t* work) {
    size_t tilde = inner.find(":~");
    if (tilde != std::string_view::npos) {
        std::string value = lookup(vars, inner.substr(0, tilde), work);
        int64_t len = int64_t(value.size());
        std::vector<std::string_view> range = split_at(inner.substr(tilde + 2), ',');
        int64_t start = leading_int(range[0]);
        if (start < 0) start += len;
        start = start < 0 ? 0 : start > len ? len : start;
        int64_t end = len;
        if (range.size() > 1) {
            int64_t m = leading_int(range[1]);
            end = m < 0 ? len + m : start + m;
            end = end < start ? start : end > len ? len : end;
        }
        return value.substr(size_t(start), size_t(end - start));
    }
    size_t colon = inner.find(':');
    if (colon != std::string_view::npos) {
        size_t eq = inner.find('=', colon + 1);
        if (eq != std::string_view::npos) {
            std::string value = lookup(vars, inner.substr(0, colon), work);
            return replace_all(value, inner.substr(colon + 1, eq - colon - 1), inner.substr(eq + 1), too_long, work);
        }
    }
    return lookup(vars, inner, work);
}

bool compare_ok(const std::string& l, const std::string& op, const std::string& r, bool& result) {
    int c;
    int64_t a, b;
    if (bat_integer(l, a) && bat_integer(r, b)) c = a < b ? -1 : a > b ? 1 : 0;
    else c = l.compare(r) < 0 ? -1 : l.compare(r) > 0 ? 1 : 0;
    if (op == "==" || op == "EQU") result = c == 0;
    else if (op == "NEQ") result = c != 0;
    else if (op == "LSS") result = c < 0;
    else if (op == "LEQ") result = c <= 0;
    else if (op == "GTR") result = c > 0;
    else if (op == "GEQ") result = c >= 0;
    else return false;
    return true;
}

void fail(Bat_State& st, std::string message) {
    if (st.error.empty()) st.error = std::move(message);
}

bool stopped(const Bat_State& st) {
    return !st.goto_label.empty() || st.returning || !st.end_label.empty() || !st.error.empty();
}

// After work was counted: a line that outgrew bat_line_max, the work
// limit and Cancel stop the run. False (with the error set) when it stops.
bool within_limits(Bat_State& st) {
    if (st.too_long) {
        fail(st, fmt("a line longer than %d bytes after expansion", int(bat_line_max)));
        return false;
    }
    if (st.work > bat_work_limit) {
        fail(st, bat_work_message());
        return false;
    }
    if (st.cancel && st.cancel->load(std::memory_order_relaxed)) {
        fail(st, "cancelled");
        return false;
    }
    return true;
}

// One statement run; false (with the error set) past the step limit.
bool count_step(Bat_State& st) {
    if (++st.steps > bat_step_limit) {
        fail(st, "the batch file does not end");
        return false;
    }
    st.work += bat_step_work;
    return within_limits(st);
}

// Sets a variable, keeping all of them together within bat_out_max bytes.
void set_var(Bat_State& st, std::string name, std::string value) {
    auto it = st.vars.find(name);
    size_t old = it == st.vars.end() ? 0 : it->first.size() + it->second.size();
    size_t total = st.vars_bytes - old + name.size() + value.size();
    st.work += bat_lookup_work + int64_t(name.size() + value.size());
    if (total > bat_out_max) return fail(st, fmt("the batch file sets more than %d MB of variables", int(bat_out_max >> 20)));
    st.vars_bytes = total;
    st.vars[std::move(name)] = std::move(value);
}

void run_echo(Bat_State& st, const std::string& line) {
    size_t blank = line.find(' ');
    std::string_view part = blank == std::string::npos ? std::string_view() : std::string_view(line).substr(blank + 1);
    size_t redirect = part.rfind(">>");
    if (redirect == std::string_view::npos) {
        if (!contains(part, "Default")) st.last_echo = std::string(trim_space(part));
        return;
    }
    std::string target = ascii_lower(trim_space(part.substr(redirect + 2)));
    if (target.size() < 11 || !ends(target, "_sculpt.txt")) {
        fail(st, fmt("an echo into another file: %s", bat_quote(line)));
        return;
    }
    std::string_view text = part.substr(0, redirect);
    if (st.out.size() + text.size() + 2 > bat_out_max) {
        fail(st, fmt("the batch file writes more than %d MB", int(bat_out_max >> 20)));
        return;
    }
    st.work += int64_t(text.size());
    st.out.append(text);
    st.out.append("\r\n");
}

void run_goto(Bat_State& st, const std::string& line) {
    std::string_view rest = trim_space(std::string_view(line).substr(4));
    while (!rest.empty() && rest[0] == ':') rest.remove_prefix(1);
    std::string label = ascii_lower(rest);
    if (label == "eof") st.returning = true;
    else if (label.empty()) fail(st, "a goto without a label");
    else st.goto_label = label;
}

void run_call(Bat_State& st, const std::string& line) {
    std::vector<std::string> fields;
    std::string_view rest = std::string_view(line).substr(6);
    std::string_view field;
    while (next_token(rest, field)) fields.emplace_back(field);
    if (fields.empty()) return fail(st, "a call without a label");
    auto it = st.labels.find(ascii_lower(fields[0]));
    if (it == st.labels.end()) return fail(st, fmt("a call to a missing label :%s", fields[0]));
    if (st.call_depth >= bat_call_depth_max)
        return fail(st, fmt("calls nest deeper than %d levels", bat_call_depth_max));
    std::vector<std::string> saved = std::move(st.args);
    st.args.assign(fields.begin() + 1, fields.end());
    st.call_depth++;
    bat_run(st, it->second);
    st.call_depth--;
    st.args = std::move(saved);
    st.returning = false;
}

void run_choice(Bat_State& st, const std::string& line) {
    std::string low = ascii_lower(line);
    std::string keys;
    size_t at = low.find("/c ");
    if (at != std::string::npos) {
        size_t pos = at + 3;
        keys = bat_word(line, pos);
    }
    // The question is the /m text, unless that is missing, empty or only a
    // legend of the keys ("1   2   3 ..."): then the last echo asked it.
    std::string question = bat_norm(st.last_echo);
    at = low.find("/m ");
    if (at != std::string::npos) {
        size_t pos = at + 3;
        std::string word = bat_word(line, pos);
        std::string_view m = word;
        while (!m.empty() && m.front() == '"') m.remove_prefix(1);
        while (!m.empty() && m.back() == '"') m.remove_suffix(1);
        if (!m.empty() && !begins(bat_norm(m), "1   2")) question = bat_norm(m);
    }
    auto it = st.answers.find(question);
    if (it == st.answers.end()) return fail(st, fmt("a question the launcher does not know: %s", bat_quote(question)));
    std::string answer = ascii_lower(it->second);
    size_t pos = answer.empty() ? std::string::npos : ascii_lower(keys).find(answer);
    if (pos == std::string::npos)
        return fail(st, fmt("%s is not one of %s's keys", bat_quote(it->second), bat_quote(question)));
    set_var(st, "errorlevel", fmt("%d", int64_t(pos) + 1));
}

void run_command(Bat_State& st, const Bat_Stmt& s) {
    std::string line = bat_bang(s.text, st.vars, &st.too_long, &st.work);
    if (!within_limits(st)) return;
    std::string low = ascii_lower(line);
    if (begins(low, "@echo.") || begins(low, "echo.")) return;
    if (begins(low, "@echo ") || begins(low, "echo ")) return run_echo(st, line);
    if (begins(low, "rem") || begins(low, "@rem") || low.empty()) return;
    if (begins(low, "goto")) return run_goto(st, line);
    if (begins(low, "call :")) return run_call(st, line);
    if (begins(low, "choice")) return run_choice(st, line);
    if (begins(low, "set /a ")) {
        std::string_view rest = std::string_view(line).substr(7);
        size_t eq = rest.find('=');
        int64_t value = 0;
        if (eq == std::string_view::npos || !bat_set_a(rest.substr(eq + 1), st.vars, value))
            return fail(st, fmt("a set /A the launcher does not read: %s", bat_quote(line)));
        set_var(st, ascii_lower(trim_space(rest.substr(0, eq))), fmt("%d", value));
        return;
    }
    if (begins(low, "set ")) {
        std::string_view rest = std::string_view(line).substr(4);
        size_t eq = rest.find('=');
        if (eq == std::string_view::npos) return fail(st, fmt("a set the launcher does not read: %s", bat_quote(line)));
        set_var(st, ascii_lower(rest.substr(0, eq)), std::string(rest.substr(eq + 1)));
        return;
    }
    fail(st, fmt("a command the launcher does not run: %s", bat_quote(line)));
}

void run_for(Bat_State& st, const Bat_Stmt& s) {
    std::string target = bat_bang(s.text, st.vars, &st.too_long, &st.work);
    if (!within_limits(st)) return;
    std::string_view path = trim_space(target);
    size_t slash = path.find_last_of("\\/");
    std::string key = path.empty() ? "." : ascii_lower(slash == std::string_view::npos ? path : path.substr(slash + 1));
    auto it = st.files.find(key);
    if (it == st.files.end()) return fail(st, fmt("the model file %s is not there", key));
    std::string_view text = it->second;
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        size_t end = nl == std::string_view::npos ? text.size() : nl;
        std::string_view raw = text.substr(start, end - start);
        start = end + 1;
        st.work += bat_lookup_work + int64_t(raw.size());
        if (!within_limits(st)) return;
        // Carriage returns removed and leading blanks skipped; the line is
        // taken only up to bat_line_max bytes, however long the list's is.
        size_t i = 0;
        while (i < raw.size() && (is_blank(raw[i]) || raw[i] == '\r')) i++;
        std::string line;
        for (; i < raw.size(); i++) {
            if (raw[i] == '\r') continue;
            if (line.size() == bat_line_max) break;
            line += raw[i];
        }
        if (line.empty() || line[0] == ';') continue;
        if (i < raw.size())
            return fail(st, fmt("a line of the model file %s is longer than %d bytes", key, int(bat_line_max)));
        std::vector<Bat_Stmt> copy;
        copy.reserve(s.body.size());
        for (const Bat_Stmt& b : s.body) copy.push_back(bat_map_node(b, bat_forvar_f, st, line));
        if (!within_limits(st)) return;
        bat_exec(st, copy);
        if (stopped(st)) return;
    }
}

void run_if(Bat_State& st, const Bat_Stmt& s) {
    bool result;
    if (s.exist) {
        result = false;   // the interpreter sees no files
    } else {
        std::string l = bat_bang(s.left, st.vars, &st.too_long, &st.work);
        std::string r = bat_bang(s.right, st.vars, &st.too_long, &st.work);
        if (!within_limits(st)) return;
        if (!compare_ok(l, s.op, r, result))
            return fail(st, fmt("an if the launcher does not read: %s %s %s", l, s.op, r));
    }
    if (s.negate) result = !result;
    bat_exec(st, result ? s.body : s.else_body);
}

void skip_blanks(std::string_view text, size_t& pos) {
    while (pos < text.size() && is_blank(text[pos])) pos++;
}

}  // namespace

std::vector<std::string> bat_lines(std::string_view text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            lines.push_back(std::move(line));
            line.clear();
        } else {
            line += c;
        }
    }
    lines.push_back(std::move(line));
    return lines;
}

std::map<std::string, int> bat_labels(const std::vector<std::string>& lines) {
    std::map<std::string, int> labels;
    for (size_t i = 0; i < lines.size(); i++) {
        std::string_view t = trim_space(lines[i]);
        if (t.size() > 1 && t[0] == ':' && t[1] != ':') labels.emplace(ascii_lower(trim_space(t.substr(1))), int(i + 1));
    }
    return labels;
}

std::string bat_word(std::string_view text, size_t& pos) {
    skip_blanks(text, pos);
    if (pos >= text.size()) {
        pos = text.size();
        return {};
    }
    size_t start = pos;
    if (text[pos] == '"') {
        size_t close = text.find('"', pos + 1);
        pos = close == std::string_view::npos ? text.size() : close + 1;
    } else {
        while (pos < text.size() && !is_blank(text[pos]) && text.compare(pos, 2, "==") != 0) pos++;
    }
    return std::string(text.substr(start, pos - start));
}

std::string bat_norm(std::string_view text) {
    std::string_view t = trim_space(text);
    while (!t.empty() && (t.back() == ':' || t.back() == ' ')) t.remove_suffix(1);
    return ascii_lower(t);
}

Bat_Stmt bat_parse_stmt(const std::vector<std::string>& lines, int index, Bat_Parse& p, int depth) {
    Bat_Stmt s;
    p.next = index + 1;
    std::string_view t = trim_space(lines[size_t(index)]);
    p.work += (depth > 0 ? bat_parse_work : bat_stmt_work) + int64_t(t.size());
    if (p.work > p.budget) {
        p.error = bat_work_message();
        return s;
    }
    if (t.size() > bat_line_max) {
        p.error = fmt("line %d is longer than %d bytes", index + 1, int(bat_line_max));
        return s;
    }
    std::string low = ascii_lower(t);
    bool block = !low.empty() && low.back() == '(';
    if (block && depth >= bat_block_depth_max) {
        p.error = fmt("blocks nest deeper than %d levels (line %d)", bat_block_depth_max, index + 1);
        return s;
    }
    size_t open = low.find('(');
    if (begins(low, "for /f ") && open != std::string::npos && low.find(')', open) != std::string::npos && block) {
        s.kind = 2;
        size_t close = low.find(')', open);
        s.text = std::string(t.substr(open + 1, close - open - 1));
        s.body = bat_parse_block(lines, index + 1, p, depth + 1);
        if (!p.error.empty()) return s;
        p.next = p.next < int(lines.size()) ? p.next + 1 : p.next;
        return s;
    }
    if (begins(low, "if ")) {
        s.kind = 1;
        size_t pos = 3;
        std::string w = bat_word(t, pos);
        if (ascii_lower(w) == "not") {
            s.negate = true;
            w = bat_word(t, pos);
        }
        if (ascii_lower(w) == "exist") {
            s.exist = true;
            s.left = bat_word(t, pos);
        } else {
            s.left = w;
            skip_blanks(t, pos);
            if (t.compare(pos, 2, "==") == 0) {
                s.op = "==";
                pos += 2;
            } else {
                for (char& c : s.op = bat_word(t, pos))
                    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
            }
            s.right = bat_word(t, pos);
        }
        std::string_view rest = trim_space(t.substr(std::min(pos, t.size())));
        if (rest != "(") {
            Bat_Stmt cmd;
            cmd.text = std::string(rest);
            s.body.push_back(std::move(cmd));
            p.next = index + 1;
            return s;
        }
        s.body = bat_parse_block(lines, index + 1, p, depth + 1);
        if (!p.error.empty() || p.next >= int(lines.size())) return s;
        int closing = p.next;
        std::string after = ascii_lower(trim_space(trim_space(lines[size_t(closing)]).substr(1)));
        if (!contains(after, "else")) {
            p.next = closing + 1;
            return s;
        }
        // Only ") else (" opens an else block; "else if", "else echo" and
        // the like are not read.
        std::string_view e = std::string_view(after).substr(4);
        if (!begins(after, "else") || trim_space(e) != "(") {
            p.error = fmt("an else the launcher does not read: %s", bat_quote(trim_space(lines[size_t(closing)])));
            return s;
        }
        p.work += bat_parse_work + int64_t(lines[size_t(closing)].size());
        s.else_body = bat_parse_block(lines, closing + 1, p, depth + 1);
        if (!p.error.empty()) return s;
        p.next = p.next < int(lines.size()) ? p.next + 1 : p.next;
        return s;
    }
    s.text = std::string(t);
    return s;
}

std::vector<Bat_Stmt> bat_parse_block(const std::vector<std::string>& lines, int index, Bat_Parse& p, int depth) {
    std::vector<Bat_Stmt> list;
    int i = index;
    while (i < int(lines.size())) {
        std::string_view t = trim_space(lines[size_t(i)]);
        if (t.empty()) {
            i++;
            p.work += bat_blank_work + int64_t(lines[size_t(i - 1)].size());
            if (p.work > p.budget) {
                p.error = bat_work_message();
                return list;
            }
            continue;
        }
        if (t[0] == ')') break;
        list.push_back(bat_parse_stmt(lines, i, p, depth));
        if (!p.error.empty()) return list;
        i = p.next;
    }
    p.next = i;
    return list;
}

Bat_Stmt bat_map_node(const Bat_Stmt& s, Bat_Map_Proc f, Bat_State& st, std::string_view extra) {
    Bat_Stmt c;
    c.kind = s.kind;
    c.negate = s.negate;
    c.exist = s.exist;
    c.op = s.op;
    c.text = f(s.text, st, extra);
    c.left = f(s.left, st, extra);
    c.right = f(s.right, st, extra);
    st.work += bat_stmt_work + int64_t(s.text.size() + s.left.size() + s.right.size() + c.text.size() +
                                       c.left.size() + c.right.size());
    c.body.reserve(s.body.size());
    for (const Bat_Stmt& b : s.body) c.body.push_back(bat_map_node(b, f, st, extra));
    c.else_body.reserve(s.else_body.size());
    for (const Bat_Stmt& b : s.else_body) c.else_body.push_back(bat_map_node(b, f, st, extra));
    return c;
}

std::string bat_pct(std::string_view s, Bat_State& st, std::string_view) {
    if (!contains(s, "%")) return std::string(s);
    Capped out;
    size_t i = 0;
    while (i < s.size() && !out.over) {
        if (s[i] != '%') {
            size_t next = s.find('%', i);
            out.add(s.substr(i, next == std::string_view::npos ? std::string_view::npos : next - i));
            i = next == std::string_view::npos ? s.size() : next;
            continue;
        }
        if (i + 1 < s.size() && s[i + 1] == '%') {
            out.add("%%");
            i += 2;
        } else if (i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '9') {
            size_t n = size_t(s[i + 1] - '0');
            if (n >= 1 && n <= st.args.size()) out.add(st.args[n - 1]);
            i += 2;
        } else {
            size_t close = s.find('%', i + 1);
            if (close == std::string_view::npos) {
                out.add('%');
                i++;
            } else {
                out.add(lookup(st.vars, s.substr(i + 1, close - i - 1), &st.work));
                i = close + 1;
            }
        }
    }
    if (out.over) st.too_long = true;
    return out.s;
}

std::string bat_forvar_f(std::string_view s, Bat_State& st, std::string_view line) {
    if (!contains(s, "%%A")) return std::string(s);
    Capped out;
    size_t i = 0;
    for (;;) {
        size_t at = s.find("%%A", i);
        if (at == std::string_view::npos || out.over) break;
        out.add(s.substr(i, at - i));
        out.add(line);
        i = at + 3;
    }
    out.add(s.substr(std::min(i, s.size())));
    if (out.over) st.too_long = true;
    return out.s;
}

std::string bat_bang(std::string_view s, const std::map<std::string, std::string>& vars, bool* too_long,
                     int64_t* work) {
    if (!contains(s, "!")) return std::string(s);
    Capped out;
    size_t i = 0;
    while (i < s.size() && !out.over) {
        size_t open = s.find('!', i);
        if (open == std::string_view::npos) {
            out.add(s.substr(i));
            break;
        }
        out.add(s.substr(i, open - i));
        size_t close = s.find('!', open + 1);
        if (close == std::string_view::npos) {
            out.add(s.substr(open));
            break;
        }
        if (close == open + 1) {
            out.add('!');
            i = close;
            continue;
        }
        bool over = false;
        out.add(bang_one(s.substr(open + 1, close - open - 1), vars, &over, work));
        if (over) out.over = true;
        i = close + 1;
        // A line of many costly expansions stops as soon as the run has
        // done its work, not at the line's end: the caller sees the count.
        if (work && *work > bat_work_limit) break;
    }
    if (out.over && too_long) *too_long = true;
    if (work) *work += int64_t(s.size() + out.s.size());
    return out.s;
}

bool bat_integer(std::string_view text, int64_t& value) {
    if (text.empty() || is_space(text.front()) || is_space(text.back())) return false;
    return parse_int(text, value);
}

static bool factor_value(std::string_view f, const std::map<std::string, std::string>& vars, int64_t& v) {
    if (bat_integer(f, v)) return true;
    auto it = vars.find(ascii_lower(f));
    return it != vars.end() && bat_integer(trim_space(it->second), v);
}

// A product of factors, left to right; wraps around in 64 bits.
static bool product_value(std::string_view term, const std::map<std::string, std::string>& vars, int64_t& out) {
    uint64_t acc = 0;
    char op = 0;
    size_t i = 0;
    for (;;) {
        size_t next = term.find_first_of("*/", i);
        std::string_view f = trim_space(term.substr(i, next == std::string_view::npos ? std::string_view::npos : next - i));
        int64_t v = 0;
        if (f.empty()) {
            if (op == '/') return false;
        } else if (!factor_value(f, vars, v)) {
            return false;
        }
        if (op == 0) {
            acc = uint64_t(v);
        } else if (op == '*') {
            acc *= uint64_t(v);
        } else {
            int64_t a = int64_t(acc);
            if (v == 0) return false;
            acc = v == -1 ? 0 - acc : uint64_t(a / v);
        }
        if (next == std::string_view::npos) break;
        op = term[next];
        i = next + 1;
    }
    out = int64_t(acc);
    return true;
}

bool bat_set_a(std::string_view expr, const std::map<std::string, std::string>& vars, int64_t& value) {
    std::string_view e = trim_space(expr);
    uint64_t total = 0;
    size_t i = 0;
    bool subtract = false;
    while (i <= e.size()) {
        bool negative = subtract;
        if (i < e.size() && (e[i] == '+' || e[i] == '-')) {
            if (e[i] == '-') negative = !negative;
            i++;
        }
        size_t next = e.find_first_of("+-", i);
        std::string_view term = e.substr(std::min(i, e.size()),
                                         next == std::string_view::npos ? std::string_view::npos : next - i);
        int64_t v = 0;
        if (!product_value(term, vars, v)) return false;
        total = negative ? total - uint64_t(v) : total + uint64_t(v);
        if (next == std::string_view::npos) break;
        subtract = e[next] == '-';
        i = next + 1;
    }
    value = int64_t(total);
    return true;
}

std::string bat_quote(std::string_view s) { return quoted(s); }

void bat_exec(Bat_State& st, const std::vector<Bat_Stmt>& list) {
    // Blocks inside calls inside blocks: the stack of the task thread bounds
    // how deep this may go, whatever the file says.
    if (st.exec_depth >= bat_exec_depth_max)
        return fail(st, fmt("blocks and calls nest deeper than %d levels", bat_exec_depth_max));
    st.exec_depth++;
    for (const Bat_Stmt& s : list) {
        if (stopped(st)) break;
        if (!count_step(st)) break;
        if (s.kind == 2) run_for(st, s);
        else if (s.kind == 1) run_if(st, s);
        else run_command(st, s);
    }
    st.exec_depth--;
}

std::string bat_work_message() { return "the batch file takes too much work to run"; }

void bat_run(Bat_State& st, int first) {
    int i = first < 0 ? 0 : first;
    while (i < int(st.lines.size()) && st.error.empty() && st.end_label.empty()) {
        std::string_view t = trim_space(st.lines[size_t(i)]);
        st.work += bat_blank_work + int64_t(st.lines[size_t(i)].size());
        if (t.empty() || (t[0] == ':' && !begins(t, "::")) || t[0] == ')') {
            i++;
            if (!within_limits(st)) return;
            continue;
        }
        Bat_Parse p;
        p.budget = bat_work_limit - st.work + 1;
        Bat_Stmt s = bat_parse_stmt(st.lines, i, p);
        st.work += p.work;
        if (!p.error.empty()) return fail(st, p.error);
        std::vector<Bat_Stmt> one;
        one.push_back(bat_map_node(s, bat_pct, st, {}));
        if (!within_limits(st)) return;
        bat_exec(st, one);
        i = p.next;
        if (st.returning) return;
        if (!st.goto_label.empty()) {
            std::string label;
            label.swap(st.goto_label);
            if (label == "endbatch" || label == "missingfiles" || label == "modifymodel") {
                st.end_label = label;
                return;
            }
            auto it = st.labels.find(label);
            if (it == st.labels.end()) return fail(st, fmt("a goto to a missing label :%s", label));
            i = it->second;
        }
    }
}
