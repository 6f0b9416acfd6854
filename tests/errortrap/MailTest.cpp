// Mailed reports against a real SMTP server on 127.0.0.1, the time bound
// against servers that are down or never answer, and credentials that must
// never travel in clear.

#include "VexlorTestSupport.h"

#include "VexlorMail.h"

#include <chrono>
#include <fstream>
#include <tuple>

namespace {

using namespace modVexlor;
using vxtest::Child;
using vxtest::Listener;
using vxtest::VexlorTest;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

const char* const kExtract = R"(
import email, email.policy, mailbox, pathlib, sys
box = mailbox.Maildir(sys.argv[1], create=False)
out = pathlib.Path(sys.argv[2])
keys = list(box.keys())
(out / 'count').write_text(str(len(keys)))
m = email.message_from_bytes(box.get_bytes(keys[0]), policy=email.policy.default)
(out / 'subject').write_text(str(m['Subject']))
(out / 'rcpt').write_text(str(m['X-RcptTo']))
(out / 'from').write_text(str(m['X-MailFrom']))
parts = [p for p in m.walk() if not p.is_multipart()]
(out / 'parts').write_text(str(len(parts)))
(out / 'note').write_bytes(parts[0].get_payload(decode=True))
(out / 'filename').write_text(str(parts[1].get_filename()))
(out / 'attachment').write_bytes(parts[1].get_payload(decode=True))
(out / 'date').write_text(str(m['Date'].datetime.tzinfo is not None))
(out / 'msgid').write_text(str(m['Message-ID']))
)";

class VexlorMailTest : public VexlorTest {
protected:
    // aiosmtpd's own Maildir server, or a script given the port and dir/out.
    void StartServer(const std::string& script = {}) {
        std::filesystem::create_directories(dir / "out");
        std::ofstream(dir / "server.py") << script;
        const std::string listen = "127.0.0.1:" + std::to_string(port), maildir = (dir / "maildir").string();
        server = std::make_unique<Child>(
            script.empty() ? std::vector<std::string>{"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l", listen, "-c",
                                                      "aiosmtpd.handlers.Mailbox", maildir}
                           : std::vector<std::string>{"/usr/bin/python3", (dir / "server.py").string(),
                                                      std::to_string(port), (dir / "out").string()},
            false);
        ASSERT_TRUE(vxtest::WaitForPort(port)) << "the SMTP server did not start";
    }
    std::string Extracted(const char* name) { return ReadFile(dir / "out" / name); }
    static std::string MailIni(const std::string& server) {
        return "[email]\r\nAddress=ops@example.test\r\nServer=" + server + "\r\n";
    }

    int port = Listener().port;
    std::unique_ptr<Child> server;
};

TEST_F(VexlorMailTest, TheReportArrivesWithSubjectNoteAndAttachmentAndNoLeftoverIsSent) {
    StartServer();
    WriteIni("[email]\r\nAddress=ops@example.test\r\nServer=smtp://127.0.0.1:" + std::to_string(port) +
             "\r\nFrom=velorun@example.test\r\n[log file]\r\nWrite To Disk=1\r\n");
    // An old temporary report in the current folder must not be sent or touched.
    std::filesystem::create_directories(dir / "cwd");
    std::ofstream(dir / "cwd" / "!error!.log") << "OLD REPORT FROM AN EARLIER RUN\r\n";
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir / "cwd");
    vx::Proc("main", "Sub cmdPreview_Click", [] { throw vb::RunTimeError(53).WithLine(0); });
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(FinishMail(std::chrono::seconds(10)));
    server.reset();

    std::ofstream(dir / "extract.py") << kExtract;
    Child extract(
        {"/usr/bin/python3", (dir / "extract.py").string(), (dir / "maildir").string(), (dir / "out").string()}, false);
    ASSERT_EQ(extract.Wait(), 0);
    EXPECT_EQ(Extracted("count"), "1");
    EXPECT_EQ(Extracted("subject"), "Remote Error Report From velorun");
    EXPECT_EQ(Extracted("rcpt"), "ops@example.test");
    EXPECT_EQ(Extracted("from"), "velorun@example.test");
    EXPECT_EQ(Extracted("parts"), "2");
    EXPECT_EQ(Extracted("note"),
              "Orvane Vexlor reports error 53 (File not found) occured in velorun. The attached log file has complete "
              "details.");
    EXPECT_EQ(Extracted("filename"), "vxerror.log");
    EXPECT_EQ(Extracted("date"), "True");  // a full RFC 5322 date, with its zone
    EXPECT_TRUE(Extracted("msgid").starts_with("<") && Extracted("msgid").ends_with(">")) << Extracted("msgid");

    // The attachment is the report, as the error log got it a moment later.
    auto attached = CrLfLines(Extracted("attachment"));
    auto logged = CrLfLines(ReadFile(dir / "error.log"));
    ASSERT_EQ(attached.size(), logged.size());
    ASSERT_GT(attached.size(), 20u);
    for (std::size_t i = 1; i + 1 < attached.size(); ++i) EXPECT_EQ(attached[i], logged[i]) << i;
    EXPECT_EQ(Extracted("attachment").find("OLD REPORT"), std::string::npos);
    EXPECT_EQ(ReadFile(dir / "cwd" / "!error!.log"), "OLD REPORT FROM AN EARLIER RUN\r\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));  // the temporary report is gone
    EXPECT_EQ(Settings().ErrorLogPath, (dir / "error.log").string());
}

TEST_F(VexlorMailTest, AServerThatIsDownOrSilentNeitherHoldsTheTrapNorOutlastsTheBoundEvenAtTheEnd) {
    Listener silent;  // accepts connections in the kernel, never says a word
    Listener closed;
    const int downPort = closed.port;
    closed.Close();
    struct Case {
        int port;
        long connectMs, totalMs, atLeastMs;
    } cases[] = {
        {downPort, 300, 1500, 0},       // refused at once
        {silent.port, 300, 1500, 250},  // no greeting within the connect bound
        {silent.port, 1500, 400, 350},  // the total bound holds whatever phase it is in
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.port) + " " + std::to_string(c.connectMs) + "/" + std::to_string(c.totalMs));
        testhooks::Reset();
        testhooks::SetMailTimeouts(c.connectMs, c.totalMs);
        WriteIni(MailIni("smtp://127.0.0.1:" + std::to_string(c.port)));
        auto start = Clock::now();
        int16_t result = 0;
        vxPUSH("main", "Sub Form_Load", "");
        try {
            throw vb::RunTimeError(53);
        } catch (...) {
            result = vxERROR("main", "Sub Form_Load");
        }
        vxPOP("main", "Sub Form_Load", "");
        const long trap = MsSince(start);
        EXPECT_TRUE(FinishMail(std::chrono::seconds(10)));
        const long took = MsSince(start);
        EXPECT_EQ(result, 5);  // the failure is not reported
        EXPECT_LT(trap, 200);  // the trap never waits for the server
        EXPECT_GE(took, c.atLeastMs);
        EXPECT_LT(took, std::min(c.connectMs, c.totalMs) + 1000);
        EXPECT_TRUE(host.boxes.empty());
        EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));
    }
    // At the end a mail still in flight is given up after the bound, its file with it.
    testhooks::Reset();
    WriteIni(MailIni("smtp://127.0.0.1:" + std::to_string(silent.port)));
    vx::Proc("main", "Sub Form_Load", [] { throw vb::RunTimeError(53); });
    EXPECT_FALSE(std::filesystem::is_empty(dir / "tmp"));  // the report waits for its server
    const auto start = Clock::now();
    EXPECT_FALSE(FinishMail(std::chrono::milliseconds(300)));
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));
}

// A program that ends right after its error, by returning from main, waits for
// the report on its way: here a server that takes a second to answer.
TEST_F(VexlorMailTest, AProgramThatEndsWithAReportOnItsWayWaitsForIt) {
    StartServer(R"(
import asyncio, pathlib, sys, time
from aiosmtpd.controller import Controller
class Slow:
    async def handle_DATA(self, server, session, envelope):
        await asyncio.sleep(1)
        (pathlib.Path(sys.argv[2]) / 'received').write_bytes(envelope.content)
        return '250 OK'
c = Controller(Slow(), hostname='127.0.0.1', port=int(sys.argv[1]))
c.start()
time.sleep(60)
)");
    WriteIni(MailIni("smtp://127.0.0.1:" + std::to_string(port)));
    const auto start = Clock::now();
    Child program({std::string(VELORIZER_BIN_DIR) + "/vexlor_mail_at_exit", dir.string()}, false);
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_GE(MsSince(start), 1000) << "it ended before the server had the report";
    EXPECT_LT(MsSince(start), 5000);
    EXPECT_NE(Extracted("received").find("Remote Error Report From vexlor_mail_at_exit"), std::string::npos);
}

// An SMTP server that offers AUTH without STARTTLS; it logs every command
// and keeps every message.
const char* const kAuthServer = R"(
import logging, pathlib, sys, time
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult
port, out = int(sys.argv[1]), pathlib.Path(sys.argv[2])
logging.basicConfig(filename=str(out / 'transcript'), level=logging.INFO)
class Keep:
    async def handle_DATA(self, server, session, envelope):
        (out / 'message').write_bytes(envelope.content)
        return '250 OK'
Controller(Keep(), hostname='127.0.0.1', port=port, auth_require_tls=False,
           authenticator=lambda *args: AuthResult(success=True)).start()
time.sleep(300)
)";

TEST_F(VexlorMailTest, CredentialsGoOnlyOverTlsAndWithoutThemMailIsSentAsBefore) {
    StartServer(kAuthServer);
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", dir.c_str(), 1);
    const std::string local = "127.0.0.1:" + std::to_string(port);
    const std::tuple<const char*, std::string, bool> cases[] = {
        {"machine 127.0.0.1 login vx password s3cret\n", "smtp://" + local, false},
        {"", "smtp://vx:s3cret@" + local, false},
        {"machine mail.example.test login vx password s3cret\n", "smtp://" + local, true},
    };
    for (const auto& [netrc, server, sent] : cases) {
        SCOPED_TRACE(server + " " + netrc);
        testhooks::Reset();
        std::ofstream(dir / ".netrc") << netrc;
        std::ofstream(dir / "out" / "transcript").close();
        WriteIni(MailIni(server));
        vx::Proc("main", "Sub Form_Load", [] { throw vb::RunTimeError(53); });
        ASSERT_TRUE(FinishMail(std::chrono::seconds(10)));
        const std::string transcript = Extracted("transcript");
        EXPECT_NE(transcript.find(">> b'EHLO"), std::string::npos) << transcript;
        EXPECT_EQ(transcript.find(">> b'AUTH"), std::string::npos) << transcript;
        EXPECT_EQ(transcript.find(">> b'MAIL FROM") != std::string::npos, sent) << transcript;
    }
    ::setenv("HOME", home.c_str(), 1);
    // The one mail sent is from login@host.
    const std::string message = Extracted("message");
    EXPECT_NE(message.find("\r\nFrom: <" + platform::DefaultMailSender() + ">\r\n"), std::string::npos) << message;
}

TEST(VexlorMailRules, WhenCredentialsMayBeSentAndHowDatesAreWritten) {
    using mail::CredentialsMayBeSent;
    EXPECT_TRUE(CredentialsMayBeSent("smtp://vx@mail.example.test", ""));
    EXPECT_FALSE(CredentialsMayBeSent("smtp://mail.example.test:2525", "machine other login vx password pw"));
    EXPECT_TRUE(CredentialsMayBeSent("smtp://Mail.Example.Test", "machine \"mail.example.test\"\n login vx"));
    EXPECT_TRUE(CredentialsMayBeSent("smtp://mail.example.test", "machine other login a\ndefault login vx"));
    EXPECT_TRUE(CredentialsMayBeSent("smtp://[bad", ""));  // unreadable: the safe side
    ::setenv("TZ", "IST-5:30", 1);                         // a POSIX zone: no time-zone database needed
    ::tzset();
    EXPECT_EQ(mail::DateHeader(1751378589), "Tue, 01 Jul 2025 19:33:09 +0530");
    ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
