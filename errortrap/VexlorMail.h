#pragma once
// Sends one mail with a text body and one attachment over SMTP (libcurl).
// Credentials come only from the user's netrc file; STARTTLS is used when the
// server offers it. Connect and total time are bounded so that a dead or
// hanging server cannot freeze the program.

#include <string>

namespace modVexlor::mail {

struct Settings {
    std::string Server = "smtp://localhost";
    std::string From;  // empty = login@host
    long ConnectTimeoutMs = 10000;
    long TotalTimeoutMs = 30000;
};

struct Message {
    std::string To;
    std::string Subject;
    std::string NoteText;
    std::string AttachmentPath;  // file whose content is attached
    std::string AttachmentName;  // name the recipient sees
};

// Returns whether the server took the message; callers that must not report
// failures simply ignore it.
bool Send(const Message& message, const Settings& settings);

}  // namespace modVexlor::mail
