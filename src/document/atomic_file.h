#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace doc {

/**
 * Writes a file so that a failure never destroys the previous one.
 *
 * A symbolic link is followed to the file it names (which is created when missing), so the link
 * stays a link and the edit reaches the real file. The content goes to a temporary file in the
 * real file's folder, renamed over it only when `write` has returned and every byte reached the
 * disk. The replaced file's mode is kept, and its owner and group where the system permits; a new
 * file gets the permissions the user's umask gives.
 *
 * Where that cannot be done without losing something, the file is rewritten in place instead,
 * once the whole new content is in memory: when its folder takes no new file but the file itself
 * is writable, and when the file has other hard links (a rename would leave them the old content).
 *
 * When `write` throws or the file cannot be written, any temporary file is removed and the failure
 * is thrown (a std::runtime_error with the system's message for I/O failures).
 */
void writeFileAtomically(const std::string &path, const std::function<void(std::ostream &)> &write);

} // namespace doc
