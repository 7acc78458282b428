#pragma once
// Reporting of operating-system failures of the file layer.
//
// logOsError writes "[<path>] <call>: <system message>" at ERROR with source
// "QZCORESTATIC". The system message is the text of `error` (an errno value);
// 0 gives "Unknown error". A NUL in the path is shown as "\0". Neither
// function throws or changes errno.

#include <string>

namespace qzvfs {

std::string osErrorText(int error);
void logOsError(const std::string& path, const std::string& call, int error);

}  // namespace qzvfs
