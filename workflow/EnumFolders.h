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
#include <string_view>
#include <utility>

namespace velorizer {

class EnumFolders {
public:
    // Raised once for every matching file, with its full path; the walk waits
    // for the handler.
    std::function<void(const std::string& path)> File;
    // Raised instead of File when set, with the file's device and inode as the
    // folder's listing gives them (a link's target's for a link), so that a
    // caller can take each file once, whatever the name it was reached by.
    std::function<void(const std::string& path, uint64_t device, uint64_t inode)> FileFound;
    // Raised for a folder that can't be listed, with the reason, and for a link
    // that leads back to a folder the walk is inside; the walk goes on. Without
    // a handler a folder that can't be listed is thrown as a run-time error
    // from its "Sub EnumFiles" (see Procedure).
    std::function<void(const std::string& folder, const std::string& reason)> FolderError;
    // Runs each of the walk's procedures: "Sub Go" around the whole walk and
    // "Sub EnumFiles" around each folder's part, nested as the folders are, the
    // folder's File events inside. It must call `body` once; the desktop program
    // instruments the walk with it. An error of a folder's body (a File handler's,
    // or a folder that can't be listed) leaves through it: when it returns
    // normally the walk goes on with the next folder. Without one such an error
    // ends the walk, thrown from Go.
    std::function<void(std::string_view signature, const std::function<void()>& body)> Procedure;

    void Go(const std::string& Directory, const std::string& Wildcard);

private:
    struct Walk;
    void Run(std::string_view signature, const std::function<void()>& body);
    void EnumFiles(Walk& walk, const std::string& path);
};

}  // namespace velorizer
