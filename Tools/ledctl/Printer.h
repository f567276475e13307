// Where the tool's text goes and how it looks: results to stdout, failures to stderr.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "BoardControls.h"
#include "LedRow.h"

namespace ledctl {

// "  out 0x2E <- 0x87" or "  in  0x2F -> 0x52"
std::string FormatPortAccess(const PortAccess& access);

class Printer {
public:
    Printer(std::ostream& out, std::ostream& err, const Style& style) : out_(out), err_(err), style_(style) {}

    std::ostream& Out() { return out_; }
    const Style& Look() const { return style_; }

    // "ledctl: context: text" on stderr.
    void Failure(std::string_view context, std::string_view text);
    // The numbered header line, then the row; extra follows the row, e.g. the byte it makes.
    void Row(const LedRow& row, std::string_view extra = {});
    std::string Emphasised(std::string_view text) const;
    // Waits a share of the style's pause; nothing when the style has none.
    void Pause(double share = 1.0);

private:
    std::ostream& out_;
    std::ostream& err_;
    Style style_;
};

}  // namespace ledctl
