#pragma once
// Walks a folder tree and reports every file whose name matches a wildcard: a
// folder's own files first, then each subfolder's tree in turn, each level in
// name order. Links to folders are followed; a folder already visited in this
// walk is skipped, so link cycles end. The next folders are listed ahead on a
// few threads; the events are raised on the thread that called Go, in that
// same order.

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>

namespace velorizer {

class EnumFolders {
public:
    // Raised once for every matching file, with its full path; the walk waits
    // for the handler.
    std::function<void(const std::string& path)> File;
    // Raised for a folder that can't be listed, with the reason, and for a link
    // that leads back to a folder the walk is inside. Without a handler these go
    // to the error trap, and the walk goes on either way.
    std::function<void(const std::string& folder, const std::string& reason)> FolderError;

    void Go(const std::string& Directory, const std::string& Wildcard);

private:
    struct Walk;
    void EnumFiles(Walk& walk, const std::string& path);
};

}  // namespace velorizer
