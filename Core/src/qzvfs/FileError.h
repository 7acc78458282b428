#pragma once
// qzvfs::FileError: the failure of writing a file, with the step that failed.
//
// Contract: a qz::ExtException whose kind() tells callers which step failed,
// so that they choose their own message by kind and never by text. what()
// is a full sentence naming the path the caller gave ("Short write to ...",
// "Can't flush ...", ...). Raise it only through QZVFS_THROW, so that file and
// line are the raising site's own.

#include <string>

#include "qz/ExtException.h"

namespace qzvfs {

enum class FileErrorKind {
    Open,    // the file could not be opened or created; nothing was changed
    Write,   // the data could not be stored (refused, short or no data)
    Flush,   // the system refused to force the data or the new name to disk
    Close,   // the system reported a failure on closing the file
    Rename,  // the finished file could not be put in place of the target
};

class FileError : public qz::ExtException {
public:
    FileError(FileErrorKind kind, std::string message, std::string file, int line)
        : qz::ExtException(std::move(message), std::move(file), line), kind_(kind) {}

    FileErrorKind kind() const noexcept { return kind_; }

private:
    FileErrorKind kind_;
};

}  // namespace qzvfs

// Throws qzvfs::FileError of `kind` with the given message and the current
// source file and line.
#define QZVFS_THROW(kind, message) throw ::qzvfs::FileError((kind), (message), __FILE__, __LINE__)
