#pragma once
// How a file is opened by the file layer: Read goes through the mount manager
// (read-only); Rewrite creates or truncates and Append creates or keeps the
// contents and starts at the end, both straight on the operating system.

namespace qzvfs {

enum class OpenMode : int { Read = 0, Rewrite = 1, Append = 2 };

}  // namespace qzvfs
