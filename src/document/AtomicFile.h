#pragma once

#include <string>
#include <string_view>

namespace ondrevo {

// Replaces `path` with `data` atomically: temp file in the same folder, flush, fsync, rename.
// Raises std::system_error naming the file; on failure the old file is untouched.
void WriteFileAtomically(const std::string& path, std::string_view data);

// Reads a whole file; raises std::system_error naming the file. Refuses files above maxBytes.
std::string ReadWholeFile(const std::string& path, std::size_t maxBytes);

}  // namespace ondrevo
