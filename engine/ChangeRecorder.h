#pragma once
// A change the engine is about to make to one file, told before the first byte
// is written, in enough detail to take it back byte for byte: the file's
// identity, its length before and after, the bytes appended or cut off at its
// end, and every run of bytes overwritten in place with its old and new bytes.

#include <cstdint>
#include <string>
#include <vector>

namespace velorizer {

struct BytePatch {
    int64_t offset = 0;
    std::vector<uint8_t> before;  // as long as `after`
    std::vector<uint8_t> after;
    bool operator==(const BytePatch&) const = default;
};

struct FileChange {
    std::string path;  // as it was given, byte for byte
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t modifiedNs = 0;  // when the file was last modified before the change
    int64_t lengthBefore = 0;
    int64_t lengthAfter = 0;
    // The bytes between the two lengths: appended when the file grows, cut
    // off when it shrinks.
    std::vector<uint8_t> tail;
    // Overwritten in place, below both lengths, in the order they are written;
    // one whose old and new bytes are the same (the RIFF size of an
    // overwrite) is not written, only checked by an undo.
    std::vector<BytePatch> patches;
    bool operator==(const FileChange&) const = default;
};

class ChangeRecorder {
public:
    virtual ~ChangeRecorder() = default;
    // Called once for each file, after every question and check and right
    // before its first write; may be called from several threads at once.
    // False, with the reason, means the change must not be made.
    virtual bool Record(const FileChange& change, std::string& reason) = 0;
};

}  // namespace velorizer
