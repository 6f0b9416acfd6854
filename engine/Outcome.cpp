#include "Outcome.h"

#include "MsgBoxStyle.h"
#include "RunTimeError.h"

#include <cerrno>

namespace velorizer {

std::string LowerFirst(std::string text) {
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

std::string ErrnoText(int err) {
    // Where the runtime's error numbers would put two different failures
    // under one word, the system's own meaning.
    switch (err) {
        case EROFS: return "read-only file system";
        case EFBIG: return "file too large";
        case EDQUOT: return "disk quota exceeded";
        case ENOTDIR: return "not a folder";
        case EISDIR: return "it is a folder";
        case ELOOP: return "too many levels of links";
        case ENAMETOOLONG: return "file name too long";
        case ETXTBSY: return "file busy";
        case EPERM: return "operation not permitted";
        case EPIPE: return "broken pipe";
        default: break;
    }
    return LowerFirst(vb::StandardErrorText(vb::ErrorNumberFromErrno(err != 0 ? err : EIO)));
}

std::string ReasonText(const Verdict& why) {
    if (!why.text.empty()) return why.text;
    switch (why.reason) {
        case Reason::None: return "";
        case Reason::Folder: return "it is a folder";
        case Reason::NotRegular: return "it is not a regular file";
        case Reason::OpenFailed: return why.err ? ErrnoText(why.err) : "it could not be opened";
        case Reason::NotWave: return "it is not a WAVE file";
        case Reason::TooManyChunks: return "it holds more than 10,000 chunks";
        case Reason::OddAcid: return "its acid chunk is " + std::to_string(why.size) + " bytes long instead of 24";
        case Reason::CutShort: return "it holds fewer bytes than its RIFF header declares";
        case Reason::BytesBehindForm: return "it holds more bytes than its RIFF header declares";
        case Reason::ChunksOffForm: return "its chunks do not end where its RIFF form ends";
        case Reason::TooLarge: return "another chunk would make it larger than a RIFF file can be";
        case Reason::ChangedMeanwhile: return "it changed while it was being tagged";
        case Reason::NotWritable:
        case Reason::System: return ErrnoText(why.err);
        case Reason::Replaced: return "another file has taken its name since the run";
        case Reason::Damaged: return "the record of its change is damaged";
        case Reason::SameFile: return "it was taken under another name already";
        case Reason::Error:
        case Reason::Journal:
        case Reason::Rule:
        case Reason::NotAsLeft: break;
    }
    return why.text;
}

std::vector<Message> OutcomeMessages(const Outcome& o) {
    using enum vb::MsgBoxStyle;
    std::vector<Message> m;
    const char* const caption = "Error";
    switch (o.result) {
        case Result::Written:
        case Result::Unchanged:
        case Result::Declined:
        case Result::Cancelled: break;
        case Result::Refused:
        case Result::Failed:
        case Result::ChangedMeanwhile:
            if (o.writeRefused) m.push_back({"error!", vbOKOnly, ""});
            if (o.why.reason == Reason::OpenFailed) m.push_back({"mmioOpen failed on " + o.path, vbCritical, caption});
            else if (o.why.reason == Reason::NotWave)
                m.push_back({"mmioDescend failed on " + o.path, vbCritical, caption});
            else
                m.push_back({"Velorizer did not change the file '" + o.path + "': " + ReasonText(o.why) + ".",
                             vbCritical, caption});
            break;
        case Result::MayHaveChanged:
            if (o.writeRefused) m.push_back({"error!", vbOKOnly, ""});
            m.push_back({"Velorizer may have changed the file '" + o.path + "': " + ReasonText(o.why) + ".", vbCritical,
                         caption});
            break;
    }
    if (o.restoreFailed)
        m.push_back(
            {"Velorizer could not make the file '" + o.path + "' read-only again: " + ErrnoText(o.restoreErr) + ".",
             vbCritical, caption});
    return m;
}

}  // namespace velorizer
