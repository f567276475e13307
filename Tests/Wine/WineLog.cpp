// Wine output rules of the end-to-end runs.
#include "WineLog.h"

#include <set>
#include <sstream>

namespace winebed {
namespace {

// "...No implementation for ntoskrnl.exe.Routine imported from ..." gives "Routine".
std::string MissingRoutine(const std::string& line)
{
    static const std::string kMarker = "No implementation for ";
    const std::size_t at = line.find(kMarker);
    const std::size_t start = at + kMarker.size();
    const std::size_t end = line.find(' ', start);
    const std::string qualified = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::size_t dot = qualified.rfind('.');
    return dot == std::string::npos ? qualified : qualified.substr(dot + 1);
}

} // namespace

std::vector<std::string> FindLogProblems(std::string_view log)
{
    std::vector<std::string> lines;
    std::istringstream stream{std::string(log)};
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    std::set<std::string> served;
    static const std::string kServed = "BoardTrap: image at ";
    for (const std::string& line : lines) {
        const std::size_t at = line.find(kServed);
        const std::size_t gets = line.find(" gets ", at == std::string::npos ? 0 : at);
        const std::size_t from = line.find(" from the test bed");
        if (at != std::string::npos && gets != std::string::npos && from != std::string::npos && from > gets) {
            served.insert(line.substr(gets + 6, from - gets - 6));
        }
    }
    std::vector<std::string> problems;
    for (const std::string& line : lines) {
        if (line.find("No implementation for ") != std::string::npos) {
            if (!served.contains(MissingRoutine(line))) {
                problems.push_back("missing routine: " + line);
            }
        } else if (line.find("Unhandled ") != std::string::npos) {
            problems.push_back("unhandled exception: " + line);
        } else if (line.find("BoardTrap: cannot") != std::string::npos) {
            problems.push_back("port trap not armed: " + line);
        }
    }
    return problems;
}

} // namespace winebed
