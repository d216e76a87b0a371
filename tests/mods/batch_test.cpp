// The batch-file interpreter: its reading of the language as a table of
// small files, and hostile files that must end with a message.
#include <gtest/gtest.h>

#include <thread>

#include "launcher/mods/batch.h"

namespace {

Bat_State run_text(std::string_view text, const std::atomic<uint8_t>* cancel = nullptr) {
    Bat_State st;
    st.lines = bat_lines(text);
    st.labels = bat_labels(st.lines);
    st.answers = {{"hips", "7"}, {"bust", "x"}, {"hair", "N"}};
    st.files = {{"x_kestrel2.txt", "  ;skip\r\n  abc\r\n\r\nc201\n"}};
    st.cancel = cancel;
    bat_run(st, 0);
    return st;
}

// The outcome of a run in one line: the error, else the end label, the
// echoed text and the variable "r" when set.
std::string outcome(const Bat_State& st) {
    if (!st.error.empty()) return "error: " + st.error;
    std::string s;
    if (!st.end_label.empty()) s += "end " + st.end_label + "; ";
    if (!st.out.empty()) s += "out " + bat_quote(st.out) + "; ";
    auto r = st.vars.find("r");
    if (r != st.vars.end()) s += "r=" + bat_quote(r->second);
    return s;
}

}  // namespace

TEST(Batch, ReadsItsSubsetOfTheLanguage) {
    struct Case {
        const char* script;
        const char* want;
    } cases[] = {
        // comparisons: integers by value, other text byte by byte, case counts
        {"if 05==5 set r=yes", "r=\"yes\""},
        {"set r=no\nif a==A set r=yes", "r=\"no\""},
        {"set r=no\nif \"5\"==\"05\" set r=yes", "r=\"no\""},
        {"if \"a b\"==\"a b\" set r=yes", "r=\"yes\""},
        {"if 10 GTR 9 set r=num\nif b gtr a set r=%r%+text", "r=\"num+text\""},
        {"if 0x10 EQU 16 set r=hex", "r=\"hex\""},
        {"if not 1 LSS 2 (\nset r=body\n) else (\nset r=else\n)", "r=\"else\""},
        {"if 1 == 1 set r=blanks", "r=\"blanks\""},
        // exist tests see no files
        {"if exist x.txt (\nset r=body\n) else (\nset r=else\n)", "r=\"else\""},
        {"if not exist x.txt set r=body", "r=\"body\""},
        // a one-line if runs its rest as a command, never parsed again
        {"if 1==1 if 2==2 set r=x", "error: a command the launcher does not run: \"if 2==2 set r=x\""},
        {"if errorlevel 5 goto x", "error: an if the launcher does not read: errorlevel 5 goto"},
        {"if a ~= b set r=x", "error: an if the launcher does not read: a ~= b"},
        // else forms other than ") else (" are not read
        {"if 1==2 (\nset r=a\n) else if 1==1 (\nset r=b\n)",
         "error: an else the launcher does not read: \") else if 1==1 (\""},
        {"if 1==2 (\nset r=a\n) else echo b", "error: an else the launcher does not read: \") else echo b\""},
        {"if 1==2 (\nset r=a\n)else(\nset r=b\n)", "r=\"b\""},
        // set keeps blanks around the name and the value
        {"set x = 1\nset r=[%x %][%x%]", "r=\"[ 1][]\""},
        {"set", "error: a command the launcher does not run: \"set\""},
        {"set r", "error: a set the launcher does not read: \"set r\""},
        // set /a
        {"set /a r=2+3*4", "r=\"14\""},
        {"set /a r=-7/2", "r=\"-3\""},
        {"set /a r=2*-3", "r=\"-3\""},
        {"set /a r=5--3", "r=\"8\""},
        {"set /a r=5 - -3", "r=\"2\""},
        {"set /a r=", "r=\"0\""},
        {"set x= 6 \nset /a R = x*x", "r=\"36\""},
        {"set /a r=7/0", "error: a set /A the launcher does not read: \"set /a r=7/0\""},
        {"set /a r=(1)", "error: a set /A the launcher does not read: \"set /a r=(1)\""},
        {"set /a r=nothing+1", "error: a set /A the launcher does not read: \"set /a r=nothing+1\""},
        {"set /a r", "error: a set /A the launcher does not read: \"set /a r\""},
        // 64-bit wrap-around, never a trap: INT64_MIN / -1, overflow
        {"set /a m=-9223372036854775807-1\nset /a n=-1\nset /a r=m/n", "r=\"-9223372036854775808\""},
        {"set /a m=-9223372036854775807-1\nset /a r=-m", "r=\"-9223372036854775808\""},
        {"set /a r=9223372036854775807+1", "r=\"-9223372036854775808\""},
        {"set /a r=4611686018427387904*4", "r=\"0\""},
        {"set /a r=99999999999999999999", "error: a set /A the launcher does not read: \"set /a r=99999999999999999999\""},
        // delayed expansion: substrings and replacement
        {"set x=abcdef\nset r=!x:~1,3!", "r=\"bcd\""},
        {"set x=abcdef\nset r=!x:~-2!", "r=\"ef\""},
        {"set x=abcdef\nset r=!x:~0,-1!", "r=\"abcde\""},
        {"set x=abcdef\nset r=[!x:~10!]", "r=\"[]\""},
        {"set x=abcdef\nset r=!x:~-99999999999999999999,99999999999999999999!", "r=\"abcdef\""},
        {"set x=abcdef\nset r=!x:~4,-3!!x:~!", "r=\"abcdef\""},
        {"set x=xaby\nset r=!x:AB=z!", "r=\"xzy\""},
        {"set x=aAa\nset r=!x:a=bb!", "r=\"bbbbbb\""},
        {"set x=v\nset r=!!x!!1!", "r=\"!v\""},
        // percent forms
        {"set r=[%1][%0][100%]", "r=\"[][][100%]\""},
        {"set r=%%A", "r=\"%%A\""},
        {"call :sub a b\ngoto end\n:sub\nset r=%2%1%3\ngoto :eof\n:end", "r=\"ba\""},
        // for /f: comments and empty lines of the list skipped, %%A per line
        {"for /f \"tokens=*\" %%A in (Data\\X_Kestrel2.txt) do (\nset r=!r!%%A,\n)", "r=\"abc,c201,\""},
        {"set l=Data\\x_kestrel2.txt\nfor /f %%A in (%l%) do (\nif %%A==abc set r=found\n)", "r=\"found\""},
        {"for /f %%A in (other.txt) do (\necho %%A\n)", "error: the model file other.txt is not there"},
        {"for /f %%A in () do (\necho %%A\n)", "error: the model file . is not there"},
        // echo into the one _sculpt.txt
        {"for /f %%A in (x_kestrel2.txt) do (\necho %%A >>Data\\C201_Sculpt.txt\n)",
         "out \"abc \\r\\nc201 \\r\\n\"; "},
        {"echo.>>x_sculpt.txt\necho a>>_sculpt.txt", "out \"a\\r\\n\"; "},
        {"echo a>>sculpt.txt", "error: an echo into another file: \"echo a>>sculpt.txt\""},
        {"echo hi>>log.txt", "error: an echo into another file: \"echo hi>>log.txt\""},
        // choice: the question is the /m text, or the last echo before a legend
        {"echo Hips:\nchoice /c 123456789 /n /m \"1   2   3\"\nset r=%errorlevel%", "r=\"7\""},
        {"echo Hips:\necho Default is 5\nchoice /c 123456789 /n\nset r=!errorlevel!", "r=\"7\""},
        {"echo x\nchoice /c yn /m \"Hair:  \"\nset r=%errorlevel%", "r=\"2\""},
        {"choice /c 123 /m \"Bust:\"", "error: \"x\" is not one of \"bust\"'s keys"},
        {"echo Shoulders:\nchoice /c 123", "error: a question the launcher does not know: \"shoulders\""},
        // goto, labels and the end labels
        {"goto EndBatch\nset r=x", "end endbatch; "},
        {"goto :ModifyModel", "end modifymodel; "},
        {"goto x\nset r=skipped\n:X\nset r=here", "r=\"here\""},
        {"goto nowhere", "error: a goto to a missing label :nowhere"},
        {"goto", "error: a goto without a label"},
        {"goto :eof\nset r=x", ""},
        {"call :", "error: a call without a label"},
        {"call :Missing", "error: a call to a missing label :Missing"},
        {":: a remark", "error: a command the launcher does not run: \":: a remark\""},
        {"rem x\n@echo off\necho.\n\n:only_label\n) stray", ""},
        {"pause", "error: a command the launcher does not run: \"pause\""},
    };
    for (const Case& c : cases) {
        Bat_State st = run_text(c.script);
        EXPECT_EQ(outcome(st), c.want) << c.script;
    }
}

TEST(Batch, Words) {
    struct Case {
        const char* text;
        std::vector<std::string> words;
    } cases[] = {
        {"  a==b  c", {"a", "b", "c"}},
        {"\"x y\"==\"z", {"\"x y\"", "\"z"}},
        {"\t", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got;
        size_t pos = 0;
        for (;;) {
            if (std::string_view(c.text).compare(pos, 2, "==") == 0) pos += 2;
            std::string w = bat_word(c.text, pos);
            if (w.empty()) break;
            got.push_back(w);
        }
        EXPECT_EQ(got, c.words) << c.text;
    }
    EXPECT_EQ(bat_norm("  Select The Hair :: "), "select the hair");
}

// Files from a stranger's archive that would loop, recurse or grow without
// end: each stops with its message. They run on a thread of their own, as
// the interpreter does in the launcher, so that deep nesting meets a
// thread's stack rather than the main one.
TEST(Batch, HostileFilesEndWithAMessage) {
    std::string skipped_block = ":a\nif 1==2 (\n";
    for (int i = 0; i < 200000; i++) skipped_block += "echo x\n";
    skipped_block += ")\ngoto a\n";
    std::string nested;
    for (int i = 0; i < 100000; i++) nested += "if 1==1 (\n";
    std::string nested_calls = ":a\n";
    for (int i = 0; i < 60; i++) nested_calls += "if 1==1 (\n";
    nested_calls += "call :a\n";
    std::string long_line = "set x=" + std::string(9000, 'a');
    // Expansions that each touch a variable of 8,000 bytes: about 10 MB of
    // work per round, and never a line over the limit.
    std::string replace_bomb = "set x=" + std::string(8000, 'a') + "\n:a\nset r=";
    for (int i = 0; i < 1300; i++) replace_bomb += "!x:a=!";
    replace_bomb += "\ngoto a";
    std::string substring_bomb = "set x=" + std::string(8000, 'a') + "\n:a\nset r=";
    for (int i = 0; i < 900; i++) substring_bomb += "!x:~0,1!";
    substring_bomb += "\ngoto a";
    struct Case {
        std::string name, script, error;
    } cases[] = {
        {"goto loop", ":a\ngoto a", "the batch file does not end"},
        {"goto loop around a skipped block", skipped_block, bat_work_message()},
        {"goto loop over empty lines", ":a\n" + std::string(100000, '\n') + "goto a", bat_work_message()},
        {"replacement bomb", replace_bomb, bat_work_message()},
        {"substring bomb", substring_bomb, bat_work_message()},
        {"goto loop around a model list", ":a\nfor /f %%A in (x_kestrel2.txt) do (\nset r=%%A\n)\ngoto a",
         bat_work_message()},
        {"call recursion", ":a\ncall :a x", "calls nest deeper than 256 levels"},
        {"calls inside blocks", nested_calls, "blocks and calls nest deeper than 1024 levels"},
        {"nesting", nested, "blocks nest deeper than 64 levels (line 65)"},
        {"string doubling", "set x=ab\n:a\nset x=%x%%x%\ngoto a", "a line longer than 8191 bytes after expansion"},
        {"replacement growth", "set x=aaaaaaaa\n:a\nset x=!x:a=aa!\ngoto a", "a line longer than 8191 bytes after expansion"},
        {"echo flood", "set x=abcdefghijklmnopqrstuvwxyz0123456789\n:a\necho %x%%x%%x%%x%>>a_sculpt.txt\ngoto a",
         "the batch file writes more than 4 MB"},
        {"long line", long_line, "line 1 is longer than 8191 bytes"},
        {"many variables", "set x=" + std::string(8000, 'x') + "\nset i=0\n:a\nset /a i=i+1\nset v%i%=%x%\ngoto a",
         "the batch file sets more than 4 MB of variables"},
    };
    for (const Case& c : cases) {
        Bat_State st;
        std::thread worker([&] { st = run_text(c.script); });
        worker.join();
        EXPECT_EQ(st.error, c.error) << c.name;
        // Counted, not timed: what stopped the run is its count.
        if (c.error == "the batch file does not end") {
            EXPECT_EQ(st.steps, bat_step_limit + 1) << c.name;
        }
        if (c.error == bat_work_message()) {
            EXPECT_GT(st.work, bat_work_limit) << c.name;
            // The count stops the run within one expansion or one parsed
            // line of the limit, not at the end of a costly line.
            EXPECT_LT(st.work, bat_work_limit + (int64_t(1) << 20)) << c.name;
        }
    }
}

// A model list's line is taken up to the line limit and no further, however
// long the list's own line is (carriage returns and leading blanks do not
// count); a comment line of any length is skipped.
TEST(Batch, AModelListLineIsCutAtTheLineLimit) {
    const std::string too_long = "a line of the model file x.txt is longer than 8191 bytes";
    struct Case {
        std::string list, outcome;
    } cases[] = {
        {"MESH " + std::string(20 << 20, 'a') + "\nMESH b", "error: " + too_long},
        {std::string(bat_line_max + 1, 'a'), "error: " + too_long},
        {"  \t" + std::string(bat_line_max, 'a') + "\r\r\nb", "r=\"2\""},
        {";" + std::string(1 << 20, 'a') + "\nb", "r=\"1\""},
    };
    for (const Case& c : cases) {
        Bat_State st;
        st.lines = bat_lines("set r=0\nfor /f %%A in (x.txt) do (\nset /a r=r+1\n)");
        st.labels = bat_labels(st.lines);
        st.files = {{"x.txt", c.list}};
        bat_run(st, 0);
        EXPECT_EQ(outcome(st), c.outcome) << c.list.substr(0, 20);
    }
}
