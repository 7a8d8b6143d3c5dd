#include "service/log.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace Varnel::Service::Log {

namespace {

// Under systemd (JOURNAL_STREAM is set) a "<N>" prefix gives the line its
// priority in the journal; elsewhere the line goes out bare.
void write(int priority, std::string_view line)
{
    static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    std::string out;
    if (journal)
        out = "<" + std::to_string(priority) + ">";
    // One event, one line: a control character cannot start a forged one.
    for (char c : line)
        out += (c == '\n' || c == '\t') ? ' ' : (c >= 0x20 && c != 0x7f) ? c : '?';
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
}

} // namespace

void info(std::string_view line)
{
    write(6, line);
}

void warning(std::string_view line)
{
    write(4, line);
}

void error(std::string_view line)
{
    write(3, line);
}

} // namespace Varnel::Service::Log
