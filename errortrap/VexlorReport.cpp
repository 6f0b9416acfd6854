// The error report: its layout with the call-tree listing, the error-log file
// it is appended to, and the mail that carries it.

#include "VexlorReport.h"

#include "AppInfo.h"
#include "VexlorMail.h"
#include "VexlorModule.h"
#include "VexlorPlatform.h"

#include <algorithm>

namespace modVexlor {

using namespace detail;

namespace {

std::string ErrorText(const Module& g, int32_t level) {
    const auto& er = g.errorRecord;
    std::string text = "Runtime error " + std::to_string(er.Number[level]) + ", " + er.Description[level];
    if (er.LineNumber[level] > 0) text += " on line " + std::to_string(er.LineNumber[level]);
    return text;
}

}  // namespace

std::string ComposeErrorReport() {
    const Module& g = TheModule();
    const auto& er = g.errorRecord;
    const std::string crlf(kCrLf);
    const std::string zone(14, ' ');
    std::string r;
    auto put = [&](const std::string& text) { r += text + crlf; };
    auto field = [&](const std::string& label, const std::string& value) {
        std::string padded = label;
        padded.resize(std::max<std::size_t>(label.size(), 14), ' ');
        put(zone + padded + value);
    };

    put(platform::CurrentDate() + " " + platform::CurrentTime() + " - start Vexlor client v" + std::string(kVersion) +
        " data capture");
    put(std::string(65, '*'));
    put(ApplicationFolder() + "/" + ExecutableName() + " ver " + std::to_string(vb::AppInfo::Major()) + "." +
        std::to_string(vb::AppInfo::Minor()) + "." + std::to_string(vb::AppInfo::Revision()));
    put("Error Information");
    for (int L = 0; L <= g.remoteLevelCount; ++L) {
        put("Error " + std::to_string(L));
        field("Category ", er.Category[L]);
        field("Source ", er.Source[L]);
        field("Module ", er.ModuleName[L]);
        field("Procedure ", er.ProcedureName[L]);
        field("Line Number ", std::to_string(er.LineNumber[L]));
        field("Error No. ", std::to_string(er.Number[L]));
        field("Description ", er.Description[L]);
        put("");
    }
    put("");
    put("Call Tree & Arguments");

    int j = 0;
    int t = -1;
    int trap = 0;
    auto listing = [&](const char* kind, const std::string& text) {
        put(zone + Str(j + 1) + kind + "\t" + std::string(static_cast<std::size_t>(std::max(t, 0)), '\t') + text);
        ++j;
    };
    const std::string m0(BeforeChain(er.ModuleName[0]));
    const std::string p0(BeforeChain(er.ProcedureName[0]));
    const std::string wanted = m0 + " : " + p0;
    const long n = static_cast<long>(Val(g.callTreeSnapshot[0]));
    for (long k = 1; k <= std::min<long>(n, kMaxDepth); ++k) {
        std::string f = g.callTreeSnapshot[static_cast<std::size_t>(k)];
        std::replace(f.begin(), f.end(), '\t', ' ');
        auto sep = f.find(" : ");
        f = std::string(TrimBlanks(
            std::string_view(f).substr(sep == std::string::npos ? std::min<std::size_t>(1, f.size()) : sep + 2)));
        ++t;
        listing(" : Call", f);
        if (Contains(f, wanted)) {
            ++t;
            trap = j;
            listing(" : Trap", ErrorText(g, 0));
        }
    }
    if (trap < j - 1) listing(" : Error", "Runtime error " + std::to_string(er.Number[0]) + ", " + er.Description[0]);
    for (int L = 1; L <= g.remoteLevelCount; ++L) {
        std::string txt = std::string(BeforeChain(er.Source[L])) + " : " + std::string(BeforeChain(er.ModuleName[L])) +
                          " : " + std::string(BeforeChain(er.ProcedureName[L]));
        ++t;
        listing(" : Call", txt);
        listing(" : Error", ErrorText(g, L));
    }

    put("");
    put("System State Information");
    put("");
    put("User Said");
    put(zone);
    put(platform::CurrentDate() + " " + platform::CurrentTime() + " - stop Vexlor client v" + std::string(kVersion) +
        " data capture");
    return r;
}

void WriteErrorLog() noexcept {
    try {
        auto& path = TheModule().settings.ErrorLogPath;
        if (path.empty()) path = "vxerror.log";
        const int fd = platform::OpenFile(path, platform::OpenMode::Append);
        if (fd < 0) return;
        try {
            // A failed write loses the report; the caller is not told.
            platform::WriteAll(fd, ComposeErrorReport());
        } catch (...) {
        }
        platform::CloseFile(fd);
    } catch (...) {
    }
}

void MailErrorReport() noexcept {
    Module& g = TheModule();
    auto& st = g.settings;
    const std::string kept = st.ErrorLogPath;
    try {
        // A fresh file of our own for every report: nothing left over from an
        // earlier run is ever sent, and no one can plant a link in its place.
        const std::string path = platform::MakeTempFile(platform::TempFolder() + "/vxerror-XXXXXX");
        if (!path.empty()) {
            st.ErrorLogPath = path;
            // Written now, in its turn among the trap's files; only the sending waits.
            WriteErrorLog();
            const std::string exe = ExecutableName();
            mail::Message message;
            message.To = st.ReportAddress;
            message.Subject = "Remote Error Report From " + exe;
            message.NoteText = "Orvane Vexlor reports error " + std::to_string(g.errorRecord.Number[0]) + " (" +
                               g.errorRecord.Description[0] + ")" + " occured in " + exe +
                               ". The attached log file has complete details.";
            message.AttachmentPath = path;
            message.AttachmentName = "vxerror.log";
            mail::Settings server;
            server.Server = st.MailServer;
            server.From = st.MailFrom;
            server.ConnectTimeoutMs = hooks.mailConnectMs;
            server.TotalTimeoutMs = hooks.mailTotalMs;
            // Off the user-interface thread: a slow server never freezes a window.
            mail::SendInBackground(std::move(message), std::move(server));
        }
    } catch (...) {
    }
    st.ErrorLogPath = kept;
}

bool FinishMail(std::chrono::milliseconds bound) noexcept {
    try {
        return mail::FinishSending(bound);
    } catch (...) {
        return false;
    }
}

}  // namespace modVexlor
