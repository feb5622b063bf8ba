#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace doc {

/**
 * Writes a file through a temporary file in the same folder, renamed over the target only when
 * `write` has returned and every byte reached the disk. When `write` throws or the file cannot be
 * written, the temporary file is removed, the target is left as it was and the failure is thrown
 * (a std::runtime_error with the system's message for I/O failures).
 */
void writeFileAtomically(const std::string &path, const std::function<void(std::ostream &)> &write);

} // namespace doc
