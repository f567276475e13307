// Output of the tool.
#include "Printer.h"

#include <cstdio>
#include <thread>

namespace ledctl {

std::string FormatPortAccess(const PortAccess& access) {
    char text[40];
    std::snprintf(text, sizeof text, "  %s 0x%02X %s 0x%02X", access.isWrite ? "out" : "in ",
                  static_cast<unsigned>(access.port), access.isWrite ? "<-" : "->",
                  static_cast<unsigned>(access.value));
    return text;
}

void Printer::Failure(std::string_view context, std::string_view text) {
    out_.flush();  // keeps the order a person sees when both streams go to one terminal
    err_ << "ledctl: " << context << ": " << text << '\n';
    err_.flush();
}

void Printer::Row(const LedRow& row, std::string_view extra) {
    out_ << "LED  " << RowNumbers() << '\n' << "     " << RowCells(row, style_);
    if (!extra.empty()) {
        out_ << "  " << extra;
    }
    out_ << '\n';
}

std::string Printer::Emphasised(std::string_view text) const {
    return std::string(style_.emphasis) + std::string(text) + std::string(style_.normal);
}

void Printer::Pause(double share) {
    if (style_.pause.count() > 0) {
        out_.flush();
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(style_.pause.count() * share));
    }
}

}  // namespace ledctl
