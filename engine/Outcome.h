#pragma once
// What happens to one file, told as data: why a file is (or would be) left
// alone, and how a change to it ended. The batch run's counts, the exit
// status, the journal, --dry-run and the data formats all read these; each
// program turns them into its own messages, with the sentences below.

#include <cstdint>
#include <string>
#include <vector>

namespace velorizer {

// Why a file is, or would be, left as it was.
enum class Reason : uint8_t {
    None,
    Folder,            // it is a folder
    NotRegular,        // a FIFO, socket or device under a *.wav name
    OpenFailed,        // the open failed for want of something else than permission
    NotWave,           // no RIFF "WAVE" form at byte 0
    TooManyChunks,     // more than 10,000 chunks
    OddAcid,           // an acid chunk of another size than 24 (`size`)
    CutShort,          // fewer bytes than the RIFF header declares
    BytesBehindForm,   // more bytes than the RIFF header declares
    ChunksOffForm,     // the chunks don't end where the form ends
    TooLarge,          // another chunk would outgrow a RIFF file
    ChangedMeanwhile,  // another file now, or one changed under us
    NotWritable,       // this user can't write it (`err`: EACCES, EPERM, EROFS...)
    System,            // a system call failed (`err`)
    Error,             // any other run-time error (`text`)
    Journal,           // its change could not be journaled (`text`)
    Rule,              // a per-file rule leaves it alone (`text`)
    NotAsLeft,         // undo: it is no longer as the run left it (`text`)
    Replaced,          // undo: another file has taken its name since the run
    Damaged,           // undo: the record of its change is damaged
    SameFile,          // reached under another name already in this run: taken once
};

struct Verdict {
    Reason reason = Reason::None;
    int err = 0;        // errno, for NotWritable and System
    uint32_t size = 0;  // OddAcid: the chunk's size
    std::string text;   // Error, Journal, Rule, NotAsLeft: the words; for any
                        // other reason, words that say more than the reason alone

    bool Refuses() const { return reason != Reason::None; }
    static Verdict Of(Reason r) { return {r, 0, 0, {}}; }
    static Verdict Errno(Reason r, int err) { return {r, err, 0, {}}; }
    static Verdict Text(Reason r, std::string words) { return {r, 0, 0, std::move(words)}; }
    bool operator==(const Verdict&) const = default;
};

enum class Result : uint8_t {
    Written,           // the change was made
    Unchanged,         // there was nothing to write
    Declined,          // a question was answered No, or not at all
    Cancelled,         // a question was answered Cancel: the run ends here
    Refused,           // left alone before a byte was written (`why`)
    Failed,            // a write failed and the file is as it was (`why`)
    MayHaveChanged,    // a write failed and the file may hold part of it (`why.text`)
    ChangedMeanwhile,  // the file changed between the look and the write (`why`)
};

struct Outcome {
    std::string path;
    uint64_t device = 0, inode = 0;  // the file looked at, where it was
    // After a change: the file's length and when it was modified, as the
    // change left it.
    int64_t lengthAfter = -1;
    int64_t modifiedNs = 0;
    Result result = Result::Unchanged;
    Verdict why;
    std::string note;           // what the per-file choice said about the file
    bool writeRefused = false;  // the disk refused a write of the acid chunk ("error!")
    int restoreErr = 0;         // the permissions of a read-only file could not be given back
    bool restoreFailed = false;

    // Whether a message named the file as one left untagged or damaged.
    bool Failed() const {
        return result == Result::Refused || result == Result::Failed || result == Result::MayHaveChanged ||
               result == Result::ChangedMeanwhile || restoreFailed;
    }
};

// The words of a verdict as the middle of a sentence: "it is a folder",
// "permission denied". For the two failures whose message is their own
// ("mmioOpen failed on", "mmioDescend failed on"), what they mean.
std::string ReasonText(const Verdict& why);

// One message box of the desktop program: its text, style and caption (empty:
// the program's title).
struct Message {
    std::string prompt;
    int style = 0;
    std::string title;
};

// The messages an outcome gives, in the order the desktop program shows them;
// none for a file written, declined or with nothing to write.
std::vector<Message> OutcomeMessages(const Outcome& outcome);

// The system's text for an errno value, as the middle of a sentence.
std::string ErrnoText(int err);
std::string LowerFirst(std::string text);

}  // namespace velorizer
