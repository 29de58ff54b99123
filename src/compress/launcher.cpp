#include "compress/launcher.h"

#include <cerrno>
#include <vector>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits a command line into the program and its arguments. Tokens are
// separated by blanks; a double quote opens or closes a stretch in which
// blanks belong to the token, and the quote itself is dropped, so "a b"c
// gives the token `a bc` and "" gives an empty token. An unclosed quote runs
// to the end of the line. A backslash is an ordinary character (it is the
// directory separator of every path we start), never an escape.
std::vector<std::string> SplitCommandLine(const std::string& command_line) {
    std::vector<std::string> tokens;
    std::size_t position = 0;
    const std::size_t length = command_line.size();
    while (position < length) {
        while (position < length && IsBlank(command_line[position])) ++position;
        if (position == length) break;
        std::string token;
        bool quoted = false;
        for (; position < length && (quoted || !IsBlank(command_line[position])); ++position) {
            if (command_line[position] == '"') {
                quoted = !quoted;
            } else {
                token += command_line[position];
            }
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

// The argument vector for the host: every token with its backslashes turned
// into '/', since tokens are paths in the program's form more often than not.
std::vector<std::string> HostArguments(const std::string& command_line) {
    std::vector<std::string> arguments = SplitCommandLine(command_line);
    for (std::string& argument : arguments) argument = host::ToHostPath(argument);
    return arguments;
}

bool NamesAProgram(const std::vector<std::string>& arguments) {
    return !arguments.empty() && !arguments.front().empty();
}

}  // namespace

host::Result<host::ProcessEnd> RunEXEWait(std::string command_line) {
    const std::vector<std::string> arguments = HostArguments(command_line);
    if (!NamesAProgram(arguments)) return host::Error{ENOENT, "RunEXEWait"};
    return host::RunAndWait(arguments);
}

// A program started here has no window of its own: it shares the console, so
// the window state asked for has nothing to act on and is not looked at.
void RunEXE(std::string command_line, std::string /*window_mode*/) {
    const std::vector<std::string> arguments = HostArguments(command_line);
    if (!NamesAProgram(arguments)) return;
    // Nobody waits for a detached program, so whether it started is not told.
    static_cast<void>(host::RunDetached(arguments));
}
