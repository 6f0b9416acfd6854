#pragma once
// The lines of a run's journal, as text and back. A journal is text, one
// record a line, each line closed by the CRC-32 of what precedes it, so that
// a line that was changed, cut or made by hand is known as such and never
// used. A line counts only once its newline is on the disk.
//
//   velorizer journal 2
//   program velorize                                    <crc>
//   started <ns since the epoch>                        <crc>
//   settings loop of 8 beats, root note C#              <crc>
//   change <n> <path> <device> <inode> <modified ns> <length before> <after>
//          <tail hex or -> [<offset>:<old hex>:<new hex>]...   <crc>
//   note <n> <result> <length after> <modified ns after>     <crc>
//   finished <ns> <files visited> completed|cancelled|stopped <crc>
//   undone <ns>                                         <crc>
//
// "change" is written before its file is touched; "note" after, without
// waiting for the disk: what was done to the file, and how the change left
// it. Paths are kept as bytes: every byte outside printable ASCII, and '%',
// as %XX. Journals of the first version (no checksums, numbers or notes) are
// read as they were written.

#include "ChangeRecorder.h"
#include "Outcome.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace velorizer::journal {

inline constexpr const char* kMagic1 = "velorizer journal 1";
inline constexpr const char* kMagic2 = "velorizer journal 2";

// The line for `content`: the content, a blank, its CRC-32 in 8 hex digits, a newline.
std::string Sealed(const std::string& content);

// The content of one record, as Sealed takes it.
std::string ChangeContent(size_t number, const FileChange& change);
std::string NoteContent(size_t number, const Outcome& outcome);

// What was done to a file, as a note says it.
struct Note {
    Result result = Result::Unchanged;
    int64_t lengthAfter = -1;
    int64_t modifiedNs = 0;
};

// A record that is not what its writer wrote: where, and why.
struct BadLine {
    size_t line = 0;  // counted from 1
    std::string why;
};

// Everything one journal file says.
struct Parsed {
    int version = 0;
    std::string program, settings;
    int64_t startedNs = 0;
    bool finished = false;
    bool cancelled = false;  // with finished: by a Cancel answer, or stopped by its journal
    bool undone = false;
    std::vector<FileChange> changes;  // in the order they were recorded
    std::vector<size_t> numbers;      // each change's number (version 2)
    std::map<size_t, Note> notes;     // by change number
    std::vector<BadLine> bad;
};

// Reads a journal. False when the text is no journal at all (its first line
// is not one of the magic lines); a line that fails its checksum or doesn't
// parse is listed in `bad` and left out.
bool Parse(std::string_view text, Parsed& out);

// The name a result has in a note, and back.
const char* ResultWord(Result result);
bool ResultFromWord(std::string_view word, Result& result);

}  // namespace velorizer::journal
