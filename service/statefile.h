#pragma once

// The small files the service keeps in its data folder ("service.txt", the
// kill switch's holders). Only the service writes them: root-owned, 0644,
// replaced whole so that a reader never sees half of one.

#include <optional>
#include <string>

namespace Varnel::Service::StateFile {

// The file's text (at most a few KiB), or nothing when it is missing, a
// link or not a regular file.
std::optional<std::string> read(const std::string &dir, const char *name);

// Writes text to a new file beside it and renames that over name.
bool write(const std::string &dir, const char *name, const std::string &text, std::string *error);

} // namespace Varnel::Service::StateFile
