// A small interpreter for the part of the Windows batch language that the
// Body Sculpting mod's batch files use to build their model text: labels,
// goto and call, if (comparisons and exist tests) and for /f over model
// lists with blocks, echo into the one "..._sculpt.txt", choice answered
// from a map, set and set /a, with %VAR%, %1, %%A and !VAR! (substrings and
// replacement) expansion.
//
// It never touches the disk, the environment or another program: the caller
// hands in the file's lines, the answers and the model-list texts, runs it
// once and reads the collected echo text. The files come from a stranger's
// archive, so every run ends, quickly, with a message for whatever it does
// not read: the statements run count towards a step limit, the bytes the
// run reads, parses, copies and expands towards a work limit (a count, not
// a clock, so it stops the same file at the same point on any machine),
// calls and blocks nest only so deep, a line holds at most 8191 bytes and
// the collected text a few MB.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct Bat_Stmt {
    int kind = 0;              // 0 command, 1 if, 2 for
    std::string text;          // command: the whole line; for: the text between its "(" and ")"
    bool negate = false;       // if not ...
    bool exist = false;        // if [not] exist PATH
    std::string left;          // the path of an exist test, or the left operand
    std::string op;            // "==" or the comparison word in upper case
    std::string right;
    std::vector<Bat_Stmt> body;       // a for's statements, or an if's when true
    std::vector<Bat_Stmt> else_body;  // an if's statements when false
};

inline constexpr int64_t bat_step_limit = 1000000;       // statements run
// The work of a run: the bytes of text it reads, parses, copies and
// expands, with a weight for each step (below). A sculpting file over a
// 100,000-line model list uses about a third of it.
inline constexpr int64_t bat_work_limit = int64_t(512) << 20;
inline constexpr size_t bat_file_max = 1u << 20;          // bytes of a batch file the caller hands in
inline constexpr size_t bat_line_max = 8191;             // bytes of one line, expanded
inline constexpr size_t bat_out_max = 4u << 20;          // bytes of collected echo text, and of variables
inline constexpr int bat_call_depth_max = 256;
inline constexpr int bat_block_depth_max = 64;
inline constexpr int bat_exec_depth_max = 1024;           // blocks and calls together

struct Bat_State {
    std::vector<std::string> lines;                 // carriage returns removed
    std::map<std::string, int> labels;              // lower-case name -> index of the line after it
    std::map<std::string, std::string> vars;        // by lower-case name
    std::map<std::string, std::string> answers;     // by question (bat_norm form)
    std::map<std::string, std::string> files;       // for /f texts by lower-case file name
    std::vector<std::string> args;                  // %1 .. %9 of the current call
    std::string last_echo;                          // last echo that did not go to a file
    std::string out;                                // the collected "_sculpt.txt" text
    std::string goto_label;                         // a goto waiting to be carried out
    bool returning = false;                         // goto :eof reached
    std::string end_label;                          // the label whose goto ended the run
    int64_t steps = 0;          // statements run
    int64_t work = 0;           // bytes handled (see bat_work_limit)
    std::string error;          // why the run stopped; empty while it runs
    const std::atomic<uint8_t>* cancel = nullptr;   // a set flag stops the run
    // Internal: call nesting, and an expansion that outgrew bat_line_max.
    int call_depth = 0;
    int exec_depth = 0;
    bool too_long = false;
    size_t vars_bytes = 0;      // names and values set during the run
};

// The labels of a file: every trimmed line longer than one character that
// begins with ":" but not "::"; the rest, trimmed and lower-cased, names the
// line after it. The first of two equal names wins.
std::map<std::string, int> bat_labels(const std::vector<std::string>& lines);
// The text split at line feeds, every carriage return removed.
std::vector<std::string> bat_lines(std::string_view text);

// Runs from a line until the lines end, a goto :eof at this level, an end
// label ("endbatch", "missingfiles", "modifymodel") or an error.
void bat_run(Bat_State& st, int first);
// Runs a list of statements in order.
void bat_exec(Bat_State& st, const std::vector<Bat_Stmt>& list);

// What parsing a statement or a block leaves: the index of the next line
// (for a block, the index of its closing line, or the line count), the
// work it did, and a message when the text cannot be read.
struct Bat_Parse {
    int next = 0;
    int64_t work = 0;
    int64_t budget = INT64_MAX;   // work it may do before it gives up
    std::string error;
};
// What the steps of a run cost in work besides the bytes they touch, in
// proportion to the time they take: a line parsed inside a block, a
// statement parsed at the top or copied (for a loop's line or a top-level
// block), a statement run, a variable looked up or set or a model-list
// line read, a match of a !VAR:old=new! replacement, a line passed over.
// A block is parsed again at every visit, every line of it becoming a
// node that the block's list holds and moves as it grows, and then copied
// for its expansion: for a block of thousands of lines that is fresh
// memory at every visit, and its parse costs as much as scanning some
// 16 KB of text a line (on a loaded machine more than the bytes alone).
inline constexpr int64_t bat_parse_work = 16384;
inline constexpr int64_t bat_stmt_work = 128;
inline constexpr int64_t bat_step_work = 64;
inline constexpr int64_t bat_lookup_work = 32;
inline constexpr int64_t bat_match_work = 16;
inline constexpr int64_t bat_blank_work = 16;
// The message of a run that outgrew bat_work_limit.
std::string bat_work_message();
Bat_Stmt bat_parse_stmt(const std::vector<std::string>& lines, int index, Bat_Parse& p, int depth = 0);
std::vector<Bat_Stmt> bat_parse_block(const std::vector<std::string>& lines, int index, Bat_Parse& p,
                                      int depth = 0);

// The next word of a line from `pos` (blanks and tabs skipped); a word in
// double quotes keeps them; any other ends at a blank, a tab or "==".
std::string bat_word(std::string_view text, size_t& pos);
// A question's normalised form: trimmed, trailing ":" and blanks stripped,
// lower-cased.
std::string bat_norm(std::string_view text);

using Bat_Map_Proc = std::string (*)(std::string_view, Bat_State&, std::string_view extra);
// A deep copy whose text, left and right have passed through `f`.
Bat_Stmt bat_map_node(const Bat_Stmt& s, Bat_Map_Proc f, Bat_State& st, std::string_view extra);
// %VAR%, %1..%9 expansion ("%%" stays); `extra` is not read.
std::string bat_pct(std::string_view s, Bat_State& st, std::string_view extra);
// Every "%%A" replaced by `line`.
std::string bat_forvar_f(std::string_view s, Bat_State& st, std::string_view line);
// !VAR!, !VAR:~start,len! and !VAR:old=new! expansion. With `too_long`, a
// result that would outgrow bat_line_max is cut there and the flag set;
// with `work`, the bytes it touched are added to it, and the expansion
// ends early (the rest of the text left out) once that passes
// bat_work_limit: the caller's limit check then stops the run.
std::string bat_bang(std::string_view s, const std::map<std::string, std::string>& vars,
                     bool* too_long = nullptr, int64_t* work = nullptr);
// set /a arithmetic: + - * / on 64-bit integers with wrap-around. False for
// what it does not read, an unset or non-numeric variable, division by 0.
bool bat_set_a(std::string_view expr, const std::map<std::string, std::string>& vars, int64_t& value);
// A text that is wholly an integer (see parse_int), without white space.
bool bat_integer(std::string_view text, int64_t& value);
// The text in double quotes with C-like escapes, as messages show values.
std::string bat_quote(std::string_view s);
