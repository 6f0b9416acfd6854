// Mailed reports against a real SMTP server on 127.0.0.1, and the time bound
// against servers that are down or never answer.

#include "VexlorTestSupport.h"

#include <arpa/inet.h>
#include <chrono>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace modVexlor;
using vxtest::Child;
using vxtest::VexlorTest;
using Clock = std::chrono::steady_clock;

// A listening socket on a free loopback port; it never accepts.
struct Listener {
    int fd = -1;
    int port = 0;
    Listener() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd, 4) != 0)
            throw std::runtime_error("listen");
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { Close(); }
    void Close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

bool Connectable(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
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
)";

class VexlorMailTest : public VexlorTest {
protected:
    void StartServer() {
        Listener probe;
        port = probe.port;
        probe.Close();
        server = std::make_unique<Child>(std::vector<std::string>{"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l",
                                                                  "127.0.0.1:" + std::to_string(port), "-c",
                                                                  "aiosmtpd.handlers.Mailbox",
                                                                  (dir / "maildir").string()},
                                         false);
        auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!Connectable(port) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(Connectable(port)) << "aiosmtpd did not start";
    }
    std::string Extracted(const char* name) { return ReadFile(dir / "out" / name); }

    int port = 0;
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
    server.reset();

    std::filesystem::create_directories(dir / "out");
    std::ofstream(dir / "extract.py") << kExtract;
    Child extract({"/usr/bin/python3", (dir / "extract.py").string(), (dir / "maildir").string(),
                   (dir / "out").string()},
                  false);
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

TEST_F(VexlorMailTest, AServerThatIsDownOrNeverAnswersCostsAtMostTheBound) {
    Listener silent;  // accepts connections in the kernel, never says a word
    Listener closed;
    const int downPort = closed.port;
    closed.Close();
    struct Case {
        int port;
        long connectMs, totalMs, atLeastMs;
    } cases[] = {
        {downPort, 300, 1500, 0},      // refused at once
        {silent.port, 300, 1500, 250},  // no greeting within the connect bound
        {silent.port, 1500, 400, 350},  // the total bound holds whatever phase it is in
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.port) + " " + std::to_string(c.connectMs) + "/" + std::to_string(c.totalMs));
        testhooks::Reset();
        testhooks::SetMailTimeouts(c.connectMs, c.totalMs);
        WriteIni("[email]\r\nAddress=ops@example.test\r\nServer=smtp://127.0.0.1:" + std::to_string(c.port) + "\r\n");
        auto start = Clock::now();
        int16_t result = 0;
        vxPUSH("main", "Sub Form_Load", "");
        try {
            throw vb::RunTimeError(53);
        } catch (...) {
            result = vxERROR("main", "Sub Form_Load");
        }
        vxPOP("main", "Sub Form_Load", "");
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_EQ(result, 5);  // the failure is not reported
        EXPECT_GE(took, c.atLeastMs);
        EXPECT_LT(took, std::min(c.connectMs, c.totalMs) + 1000);
        EXPECT_TRUE(host.boxes.empty());
        EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));
    }
}

}  // namespace
