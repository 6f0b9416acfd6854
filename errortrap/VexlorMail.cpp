#include "VexlorMail.h"

#include "VexlorPlatform.h"

#include <curl/curl.h>

#include <condition_variable>
#include <cstdlib>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <strings.h>
#include <thread>

namespace modVexlor::mail {

namespace {

std::string Bracketed(const std::string& address) {
    if (!address.empty() && address.front() == '<') return address;
    return "<" + address + ">";
}

std::string MessageId(const std::string& host) {
    std::random_device random;
    char id[64];
    std::snprintf(id, sizeof id, "%08x%08x.%lld", random(), random(), static_cast<long long>(std::time(nullptr)));
    return "<" + std::string(id) + ".vexlor@" + host + ">";
}

int GiveUpCheck(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

constexpr std::chrono::seconds kAtExit{5};

class Outbox;
Outbox& TheOutbox();

// One thread sends the mails of the error trap, one after the other.
class Outbox {
public:
    void Post(Message message, Settings settings) {
        std::lock_guard lock(m_);
        if (!started_) {
            // Before the first other thread that may use libcurl.
            curl_global_init(CURL_GLOBAL_DEFAULT);
            // Detached: at the end of the program it may still wait for a server.
            std::thread([this] { Run(); }).detach();
            started_ = true;
            // A program that ends normally gives a report on its way a few
            // seconds, whichever way it ends (a window, main's return, exit).
            std::atexit([] { TheOutbox().Finish(kAtExit); });
        }
        jobs_.push_back({std::move(message), std::move(settings)});
        wake_.notify_one();
    }

    bool Finish(std::chrono::milliseconds bound) {
        std::unique_lock lock(m_);
        if (idle_.wait_for(lock, bound, [this] { return jobs_.empty() && !current_; })) return true;
        for (const auto& job : jobs_) platform::RemoveFile(job.message.AttachmentPath);
        jobs_.clear();
        if (current_) {
            platform::RemoveFile(*current_);
            giveUp_ = true;
        }
        return false;
    }

private:
    struct Job {
        Message message;
        Settings settings;
    };

    void Run() {
        std::unique_lock lock(m_);
        for (;;) {
            wake_.wait(lock, [this] { return !jobs_.empty(); });
            const Job job = std::move(jobs_.front());
            jobs_.pop_front();
            current_ = job.message.AttachmentPath;
            giveUp_ = false;
            lock.unlock();
            Send(job.message, job.settings, &giveUp_);  // a refused message goes unnoticed
            lock.lock();
            if (!giveUp_) platform::RemoveFile(job.message.AttachmentPath);  // else Finish did
            current_.reset();
            idle_.notify_all();
        }
    }

    std::mutex m_;
    std::condition_variable wake_, idle_;
    std::deque<Job> jobs_;
    std::optional<std::string> current_;  // attachment of the mail being sent
    std::atomic<bool> giveUp_{false};
    bool started_ = false;
};

Outbox& TheOutbox() {
    static auto* outbox = new Outbox;  // never destroyed: its thread may outlive main
    return *outbox;
}

}  // namespace

std::string DateHeader(std::time_t when) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    localtime_r(&when, &tm);
    const long offset = tm.tm_gmtoff / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", days[tm.tm_wday % 7], tm.tm_mday,
                  months[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, offset < 0 ? '-' : '+',
                  std::labs(offset) / 60, std::labs(offset) % 60);
    return text;
}

bool CredentialsMayBeSent(const std::string& serverUrl, const std::string& netrcText) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
    if (!url || curl_url_set(url.get(), CURLUPART_URL, serverUrl.c_str(),
                             CURLU_NON_SUPPORT_SCHEME | CURLU_GUESS_SCHEME) != CURLUE_OK)
        return true;  // what can't be read can't be judged: take the safe side
    std::string host;
    for (CURLUPart part : {CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_OPTIONS, CURLUPART_HOST}) {
        char* value = nullptr;
        if (curl_url_get(url.get(), part, &value, 0) == CURLUE_OK && value) {
            if (part == CURLUPART_HOST) host = value;
            else if (*value) {
                curl_free(value);
                return true;
            }
        }
        curl_free(value);
    }
    // netrc: "machine <host>" or "default" opens an entry. Words are compared
    // without quotes; a word that only looks like one (inside a macro) errs on
    // the safe side.
    std::istringstream words(netrcText);
    std::string word, previous;
    while (words >> word) {
        if (word.size() >= 2 && word.front() == '"' && word.back() == '"') word = word.substr(1, word.size() - 2);
        if (word == "default" || (previous == "machine" && strcasecmp(word.c_str(), host.c_str()) == 0)) return true;
        previous = word;
    }
    return false;
}

bool Send(const Message& message, const Settings& settings, const std::atomic<bool>* giveUp) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) return false;
    CURL* c = curl.get();
    const std::string host = platform::HostName();
    const std::string from = settings.From.empty() ? platform::DefaultMailSender() : settings.From;
    const std::string netrc = platform::NetrcPath();
    // Credentials never travel in clear: where they may be sent, no TLS, no mail.
    const bool credentials = CredentialsMayBeSent(settings.Server, platform::ReadRegularFile(netrc).value_or(""));

    curl_easy_setopt(c, CURLOPT_URL, settings.Server.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, Bracketed(from).c_str());
    curl_slist* rcpt = curl_slist_append(nullptr, Bracketed(message.To).c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(credentials ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    curl_easy_setopt(c, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
    curl_easy_setopt(c, CURLOPT_NETRC_FILE, netrc.c_str());  // the file judged above, and no other
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, settings.ConnectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, settings.TotalTimeoutMs);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    if (giveUp) {
        curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, GiveUpCheck);
        curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(giveUp));
        curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    }

    curl_slist* headers = nullptr;
    headers =
        curl_slist_append(headers, ("Date: " + DateHeader(message.Date ? message.Date : std::time(nullptr))).c_str());
    headers = curl_slist_append(headers, ("Message-ID: " + MessageId(host)).c_str());
    headers = curl_slist_append(headers, ("Subject: " + message.Subject).c_str());
    headers = curl_slist_append(headers, ("To: " + Bracketed(message.To)).c_str());
    headers = curl_slist_append(headers, ("From: " + Bracketed(from)).c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);

    curl_mime* mime = curl_mime_init(c);
    curl_mimepart* note = curl_mime_addpart(mime);
    curl_mime_data(note, message.NoteText.c_str(), CURL_ZERO_TERMINATED);
    curl_mime_type(note, "text/plain; charset=utf-8");
    curl_mime_encoder(note, "quoted-printable");
    curl_mimepart* file = curl_mime_addpart(mime);
    curl_mime_filedata(file, message.AttachmentPath.c_str());
    curl_mime_filename(file, message.AttachmentName.c_str());
    curl_mime_type(file, "text/plain; charset=utf-8");
    curl_mime_encoder(file, "base64");
    curl_easy_setopt(c, CURLOPT_MIMEPOST, mime);

    CURLcode rc = curl_easy_perform(c);

    curl_mime_free(mime);
    curl_slist_free_all(headers);
    curl_slist_free_all(rcpt);
    return rc == CURLE_OK;
}

void SendInBackground(Message message, Settings settings) {
    if (!message.Date) message.Date = std::time(nullptr);
    TheOutbox().Post(std::move(message), std::move(settings));
}

bool FinishSending(std::chrono::milliseconds bound) { return TheOutbox().Finish(bound); }

}  // namespace modVexlor::mail
