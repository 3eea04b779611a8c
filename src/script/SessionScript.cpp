#include "script/SessionScript.h"

#include <algorithm>
#include <optional>

namespace vandrel::script {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr int kMaxSecondsMs = 3600 * 1000;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isNameChar(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '/' || c == '_' ||
           c == '-' || c == '.';
}
int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// SECONDS as whole milliseconds, rounded up so that a positive time never becomes 0; nullopt
// when the number is larger than the limit (its digits are checked before).
std::optional<int> toMilliseconds(std::string_view whole, std::string_view fraction) {
    whole.remove_prefix(std::min(whole.find_first_not_of('0'), whole.size()));
    if (whole.size() > 4) {
        return std::nullopt;
    }
    int ms = 0;
    for (char c : whole) {
        ms = ms * 10 + (c - '0');
    }
    for (std::size_t i = 0; i < 3; ++i) {
        ms = ms * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    }
    if (fraction.size() > 3 && fraction.find_first_not_of('0', 3) != std::string_view::npos) {
        ++ms;
    }
    if (ms > kMaxSecondsMs) {
        return std::nullopt;
    }
    return ms;
}

// Reads one line of a script. The first error stops it; columns are 1-based byte columns.
class LineParser {
public:
    LineParser(std::string_view line, int lineNumber) : m_line(line), m_lineNumber(lineNumber) {}

    // False on a syntax error (then Error() says which); command stays empty for a blank or
    // comment line.
    bool Parse(std::optional<ScriptCommand>& command) {
        skipBlanks();
        if (atLineEnd()) {
            return true;
        }
        const std::size_t start = m_pos;
        const std::string_view name = word();
        ScriptCommand parsed;
        parsed.Line = m_lineNumber;
        parsed.Source = std::string(trimBlanks(m_line));
        bool ok = false;
        if (name == "send" || name == "sendline") {
            parsed.Kind = name == "send" ? CommandKind::Send : CommandKind::SendLine;
            ok = text(parsed.Text) && lineEnd();
        } else if (name == "expect") {
            parsed.Kind = CommandKind::Expect;
            parsed.Milliseconds = kDefaultExpectTimeoutMs;
            ok = nonEmptyText(parsed.Text) && timeout(parsed.Milliseconds) && lineEnd();
        } else if (name == "fail-if") {
            parsed.Kind = CommandKind::FailIf;
            ok = nonEmptyText(parsed.Text) && lineEnd();
        } else if (name == "wait") {
            parsed.Kind = CommandKind::Wait;
            ok = seconds(parsed.Milliseconds, true, "seconds out of range") && lineEnd();
        } else if (name == "log") {
            ok = logSwitch(parsed.Kind) && lineEnd();
        } else if (name == "close") {
            parsed.Kind = CommandKind::Close;
            ok = lineEnd();
        } else {
            return fail(start, name.empty() ? std::string("unknown command")
                                            : "unknown command \"" + EscapeText(name) + "\"");
        }
        if (ok) {
            command = std::move(parsed);
        }
        return ok;
    }

    const ScriptError& Error() const { return m_error; }

private:
    bool fail(std::size_t pos, std::string message) {
        m_error = {m_lineNumber, static_cast<int>(pos) + 1, std::move(message)};
        return false;
    }
    bool atEnd() const { return m_pos >= m_line.size(); }
    bool atLineEnd() const { return atEnd() || m_line[m_pos] == '#'; }
    void skipBlanks() {
        while (!atEnd() && isBlank(m_line[m_pos])) {
            ++m_pos;
        }
    }
    std::string_view word() {
        const std::size_t start = m_pos;
        while (!atEnd() && !isBlank(m_line[m_pos]) && m_line[m_pos] != '"' &&
               m_line[m_pos] != '#') {
            ++m_pos;
        }
        return m_line.substr(start, m_pos - start);
    }
    bool lineEnd() {
        skipBlanks();
        return atLineEnd() || fail(m_pos, "extra words after the command");
    }

    bool text(ScriptText& out) {
        skipBlanks();
        if (atEnd() || m_line[m_pos] != '"') {
            return fail(m_pos, "missing text");
        }
        m_textStart = m_pos++;
        std::string literal;
        const auto flush = [&] {
            if (!literal.empty()) {
                out.push_back({false, literal});
                literal.clear();
            }
        };
        while (!atEnd()) {
            const char c = m_line[m_pos];
            if (c == '"') {
                ++m_pos;
                flush();
                return true;
            }
            if (c == '\\') {
                if (!escape(literal)) {
                    return false;
                }
            } else if (c == '{' && m_pos + 1 < m_line.size() && m_line[m_pos + 1] == '{') {
                literal += '{';
                m_pos += 2;
            } else if (c == '{') {
                flush();
                if (!variable(out)) {
                    return false;
                }
            } else {
                literal += c;
                ++m_pos;
            }
        }
        return fail(m_textStart, "unterminated text");
    }
    bool nonEmptyText(ScriptText& out) {
        return text(out) && (!out.empty() || fail(m_textStart, "empty text"));
    }

    bool escape(std::string& literal) {
        const std::size_t at = m_pos;
        const auto charAt = [&](std::size_t i) { return i < m_line.size() ? m_line[i] : '\0'; };
        switch (charAt(at + 1)) {
            case 'r':
                literal += '\r';
                break;
            case 'n':
                literal += '\n';
                break;
            case 't':
                literal += '\t';
                break;
            case '\\':
                literal += '\\';
                break;
            case '"':
                literal += '"';
                break;
            case 'x': {
                const int high = hexValue(charAt(at + 2));
                const int low = hexValue(charAt(at + 3));
                if (high < 0 || low < 0) {
                    return fail(at, "bad escape");
                }
                literal += static_cast<char>(high * 16 + low);
                m_pos = at + 4;
                return true;
            }
            default:
                return fail(at, "bad escape");
        }
        m_pos = at + 2;
        return true;
    }

    bool variable(ScriptText& out) {
        const std::size_t open = m_pos++;
        while (!atEnd() && isNameChar(m_line[m_pos])) {
            ++m_pos;
        }
        if (atEnd() || m_line[m_pos] == '"') {
            return fail(open, "unclosed {");
        }
        if (m_line[m_pos] != '}') {
            return fail(m_pos, "bad character in a variable name");
        }
        if (m_pos == open + 1) {
            return fail(open, "empty variable name");
        }
        out.push_back({true, std::string(m_line.substr(open + 1, m_pos - open - 1))});
        ++m_pos;
        return true;
    }

    bool seconds(int& ms, bool zeroAllowed, const char* rangeMessage) {
        skipBlanks();
        const std::size_t start = m_pos;
        const std::string_view token = word();
        if (token.empty()) {
            return fail(start, "missing number");
        }
        const std::size_t dot = token.find('.');
        const std::string_view whole = token.substr(0, dot);
        const std::string_view fraction =
            dot == std::string_view::npos ? std::string_view() : token.substr(dot + 1);
        const auto digits = [](std::string_view s) {
            return !s.empty() && std::all_of(s.begin(), s.end(), isDigit);
        };
        if (!digits(whole) || (dot != std::string_view::npos && !digits(fraction))) {
            return fail(start, "bad number");
        }
        const std::optional<int> value = toMilliseconds(whole, fraction);
        if (!value || (*value == 0 && !zeroAllowed)) {
            return fail(start, rangeMessage);
        }
        ms = *value;
        return true;
    }
    bool timeout(int& ms) {
        skipBlanks();
        const std::size_t start = m_pos;
        if (atLineEnd()) {
            return true;
        }
        if (word() != "timeout") {
            return fail(start, "extra words after the command");
        }
        return seconds(ms, false, "timeout out of range");
    }
    bool logSwitch(CommandKind& kind) {
        skipBlanks();
        const std::size_t start = m_pos;
        const std::string_view value = word();
        if (value != "on" && value != "off") {
            return fail(start, "log needs on or off");
        }
        kind = value == "on" ? CommandKind::LogOn : CommandKind::LogOff;
        return true;
    }

    std::string_view m_line;
    int m_lineNumber;
    std::size_t m_pos = 0;
    std::size_t m_textStart = 0;
    ScriptError m_error;
};

}  // namespace

std::string ScriptError::Text() const {
    return std::to_string(Line) + ":" + std::to_string(Column) + ": " + Message;
}

std::variant<Script, ScriptError> ParseScript(std::string_view text) {
    if (text.starts_with(kBom)) {
        text.remove_prefix(kBom.size());
    }
    Script script;
    int lineNumber = 0;
    for (std::size_t offset = 0; offset < text.size();) {
        ++lineNumber;
        const std::size_t newline = std::min(text.find('\n', offset), text.size());
        std::string_view line = text.substr(offset, newline - offset);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.size() > kMaxScriptLineBytes) {
            return ScriptError{lineNumber, static_cast<int>(kMaxScriptLineBytes) + 1,
                               "line longer than 64 KiB"};
        }
        if (std::min(newline + 1, text.size()) > kMaxScriptBytes) {
            return ScriptError{lineNumber, static_cast<int>(kMaxScriptBytes - offset) + 1,
                               "script larger than 1 MiB"};
        }
        LineParser parser(line, lineNumber);
        std::optional<ScriptCommand> command;
        if (!parser.Parse(command)) {
            return parser.Error();
        }
        if (command) {
            for (const TextPiece& piece : command->Text) {
                if (piece.Variable) {
                    script.VariableNames.push_back(piece.Value);
                }
            }
            script.Commands.push_back(std::move(*command));
        }
        offset = newline + 1;
    }
    std::vector<std::string>& names = script.VariableNames;
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return script;
}

std::string EscapeText(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string escaped;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\r':
                escaped += "\\r";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\\':
                escaped += "\\\\";
                break;
            case '"':
                escaped += "\\\"";
                break;
            default:
                if (byte < 0x20 || byte == 0x7f) {
                    escaped += "\\x";
                    escaped += kHex[byte >> 4];
                    escaped += kHex[byte & 0xf];
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

}  // namespace vandrel::script
