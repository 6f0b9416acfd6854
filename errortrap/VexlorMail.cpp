#include "VexlorMail.h"

#include "VexlorPlatform.h"

#include <curl/curl.h>

#include <memory>

namespace modVexlor::mail {

namespace {
struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
};

std::string Bracketed(const std::string& address) {
    if (!address.empty() && address.front() == '<') return address;
    return "<" + address + ">";
}
}  // namespace

bool Send(const Message& message, const Settings& settings) {
    static CurlGlobal global;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) return false;
    CURL* c = curl.get();
    const std::string from = settings.From.empty() ? platform::DefaultMailSender() : settings.From;

    curl_easy_setopt(c, CURLOPT_URL, settings.Server.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, Bracketed(from).c_str());
    curl_slist* rcpt = curl_slist_append(nullptr, Bracketed(message.To).c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
    curl_easy_setopt(c, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, settings.ConnectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, settings.TotalTimeoutMs);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);

    curl_slist* headers = nullptr;
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

}  // namespace modVexlor::mail
