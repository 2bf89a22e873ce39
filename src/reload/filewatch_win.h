// The Windows folder watch's reading of a batch of changes (one
// ReadDirectoryChangesW buffer). Windows only; the watching thread.
#pragma once

#include <span>
#include <string>

namespace orvalin {

// Whether one of the FILE_NOTIFY_INFORMATION entries in the first `bytes`
// of `buffer` names the file by one of `names`, letter case aside. A file
// has a long and often a short (8.3) name, and the system may report either.
bool batch_names_file(const void* buffer, unsigned long bytes,
                      std::span<const std::wstring> names);

}  // namespace orvalin
