#pragma once
// Sends one mail with a text body and one attachment over SMTP (libcurl).
// Credentials come only from the server URL or the user's netrc file, and
// whenever they may be sent the connection must be encrypted (STARTTLS or
// smtps); without them STARTTLS is used when the server offers it. Connect and
// total time are bounded so that a dead or hanging server cannot hold a mail
// for ever, and mails from the error trap are sent by a thread of their own so
// that the user-interface thread never waits for a server.

#include <atomic>
#include <chrono>
#include <ctime>
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
    std::time_t Date = 0;        // when it was written; 0 = when it is sent
};

// Sends at once, on the calling thread; a send under way gives up when
// `giveUp` turns true. Returns whether the server took the message; callers
// that must not report failures simply ignore it.
bool Send(const Message& message, const Settings& settings, const std::atomic<bool>* giveUp = nullptr);

// Hands the message to the sending thread and returns at once. Messages go out
// in the order given. The attachment file becomes the sender's: it is deleted
// once the message is sent or given up.
void SendInBackground(Message message, Settings settings);

// Waits up to `bound` for the messages handed over so far. Those still unsent
// then are given up and their attachments deleted. True when all were done.
bool FinishSending(std::chrono::milliseconds bound);

// Whether a mail to this server may carry credentials: the URL names a user,
// or the netrc text has an entry for the server's host or a default entry.
bool CredentialsMayBeSent(const std::string& serverUrl, const std::string& netrcText);

// A date as RFC 5322 writes it ("Tue, 01 Jul 2025 14:03:09 +0200"), local time.
std::string DateHeader(std::time_t when);

}  // namespace modVexlor::mail
