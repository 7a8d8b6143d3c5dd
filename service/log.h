#pragma once

// The service's log: one line per event on standard error, which systemd
// hands to the journal. Nothing secret is ever written: requests carry
// addresses and names, no credentials.

#include <string_view>

namespace Varnel::Service::Log {

void info(std::string_view line);
void warning(std::string_view line);
void error(std::string_view line);

} // namespace Varnel::Service::Log
