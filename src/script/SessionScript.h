#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// A session script is a text file, one command a line:
//
//   send "TEXT"                       the bytes of TEXT, as if typed
//   sendline "TEXT"                   TEXT and the session's Enter sequence
//   expect "TEXT" [timeout SECONDS]   wait until TEXT arrives (default 10 s, more than 0,
//                                     at most 3600); it is looked for in the bytes received
//                                     after the previous expect's match and in what arrives
//   fail-if "TEXT"                    from this line on, TEXT arriving fails the run
//   wait SECONDS                      pause (0 to 3600)
//   log on | log off                  start or stop the session log
//   close                             the run passes and the session is closed
//
// SECONDS is a decimal number (2, 0.5). Blank lines and lines whose first non-blank
// character is '#' are ignored, as is "# ..." after a command (outside quotes). In TEXT,
// \r \n \t \xNN (two hex digits) \\ and \" are escapes, {Name} is a variable (Name made of
// letters, digits and / _ - .; e.g. {S/N}), "{{" is a literal '{' and a '}' outside a variable
// is itself. Blanks are spaces and tabs. A UTF-8 BOM and CR LF line ends are accepted; lines
// over 64 KiB and files over 1 MiB are errors.

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
    int Line = 0;          // 1-based line in the script file
    std::string Source;    // the line as written, blanks at both ends cut (for reports)
    ScriptText Text;       // send, sendline, expect, fail-if
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
inline constexpr std::size_t kMaxScriptBytes = 1024 * 1024;
inline constexpr std::size_t kMaxScriptLineBytes = 64 * 1024;

// Reads a session script: one command a line, blank lines and lines starting with '#'
// (after blanks) ignored. Returns the script or the first error.
std::variant<Script, ScriptError> ParseScript(std::string_view text);

// The bytes as a script would write them inside quotes, so that control bytes are readable in
// messages: "\r\n", "\x1b"; bytes from 0x80 on are kept as they are (UTF-8).
std::string EscapeText(std::string_view bytes);

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
