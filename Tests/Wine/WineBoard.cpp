// Runs Tools/wine-board through the shell and collects what the program printed.
#include "WineBoard.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/wait.h>

namespace winebed {
namespace {

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::filesystem::path WindowsBin() { return std::filesystem::path(LED_WINDOWS_BUILD_ROOT) / "windows-x64" / "bin"; }

} // namespace

WineBoard::WineBoard(std::string driver, std::filesystem::path prefix)
    : driver_(std::move(driver)), prefix_(std::move(prefix))
{
}

CommandResult WineBoard::Run(const std::vector<std::string>& command, const std::string& placement) const
{
    std::string line = Quote(LED_WINE_BOARD) + " --prefix " + Quote(prefix_.string()) + " --bin " +
                       Quote(WindowsBin().string()) + " --driver " + driver_ + " --placement " + placement + " --";
    for (const std::string& word : command) {
        line += " " + Quote(word);
    }
    CommandResult result;
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 4096> chunk{};
    while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) {
        result.output += chunk.data();
    }
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    // Windows programs end their lines with CR LF.
    std::erase(result.output, '\r');
    return result;
}

std::string WineBoard::Log() const
{
    std::ifstream file(prefix_ / "board.log");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WineBoard::Stop() const
{
    const std::string line = Quote(LED_WINE_BOARD) + " --prefix " + Quote(prefix_.string()) + " --bin " +
                             Quote(WindowsBin().string()) + " --driver " + driver_ + " --stop >/dev/null";
    (void)std::system(line.c_str());
}

std::optional<std::string> WineBoard::Unavailable()
{
    if (!std::filesystem::exists("/usr/lib/wine/wine64")) {
        return "Wine is not installed (Tools/install-deps wine)";
    }
    for (const char* file : {"BoardTrap.sys", "PortProbe.sys", "boardctl.exe", "led-install.exe", "ledio.exe"}) {
        if (!std::filesystem::exists(WindowsBin() / file)) {
            return (WindowsBin() / file).string() + " is not built (cmake --build --preset windows-x64)";
        }
    }
    return std::nullopt;
}

std::map<std::string, std::string> ParseKeyValues(const std::string& text)
{
    std::map<std::string, std::string> values;
    for (const std::string& line : Lines(text)) {
        if (const std::size_t at = line.find('='); at != std::string::npos) {
            values[line.substr(0, at)] = line.substr(at + 1);
        }
    }
    return values;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace winebed
