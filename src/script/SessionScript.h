#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vandrel::script {

// One piece of a quoted text: literal bytes (escapes already decoded) or a {Name} variable.
struct TextPiece {
    bool Variable = false;
    std::string Value;  // the bytes, or the variable's name without braces
};
using ScriptText = std::vector<TextPiece>;

enum class CommandKind { Send, SendLine, Expect, FailIf, Wait, LogOn, LogOff, Close };

// One command of a session script, with where it stood in the file.
struct ScriptCommand {
    CommandKind Kind = CommandKind::Send;
    int Line = 0;         // 1-based line in the script file
    std::string Source;   // the line as written, blanks at both ends cut (for reports)
    ScriptText Text;      // send, sendline, expect, fail-if
    int Milliseconds = 0;  // expect: its timeout (default 10 s); wait: how long
};

struct Script {
    std::vector<ScriptCommand> Commands;
    std::vector<std::string> VariableNames;  // every {Name} used, sorted, no repeats
};

// A syntax error: where it is and what is wrong ("3:12: unterminated text").
struct ScriptError {
    int Line = 0;
    int Column = 0;  // 1-based byte column
    std::string Message;
    std::string Text() const;  // "LINE:COLUMN: MESSAGE"
};

inline constexpr int kDefaultExpectTimeoutMs = 10000;

// Reads a session script: one command a line, blank lines and lines starting with '#'
// (after blanks) ignored. Returns the script or the first error.
std::variant<Script, ScriptError> ParseScript(std::string_view text);

// The bytes of a text with every variable replaced by values(name); values is asked
// only for names the script uses.
template <typename Lookup>
std::string ExpandText(const ScriptText& text, Lookup&& values) {
    std::string bytes;
    for (const TextPiece& piece : text) {
        bytes += piece.Variable ? std::string(values(piece.Value)) : piece.Value;
    }
    return bytes;
}

}  // namespace vandrel::script
