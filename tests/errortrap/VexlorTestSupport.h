#pragma once
// Shared set-up of the error-trapping tests: a fresh module pointed at a
// temporary application folder, a recorder for the host, a controllable clock
// and memory status, and helpers for files and child processes.

#include "Vexlor.h"
#include "VexlorPlatform.h"
#include "VexlorTesting.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vxtest {

struct ShownBox {
    std::string prompt;
    int style;
    std::string caption;
};

class RecorderHost : public modVexlor::Host {
public:
    int MsgBox(const std::string& prompt, int style, const std::string& caption) override;
    void DisableForms() override { ++disabled; }
    void EnableForms() override { ++enabled; }
    void DoEvents() override;
    void StopInDebugger() override { ++stops; }

    std::vector<ShownBox> boxes;
    std::deque<int> answers;  // answers to give, in order; vbOK when empty
    int failNextBoxes = 0;    // the next boxes throw, as a failing box would
    int disabled = 0;
    int enabled = 0;
    int events = 0;
    int stops = 0;
    std::function<void(int)> onEvents;  // called with the running count of DoEvents
};

class VexlorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void WriteIni(const std::string& text);
    static std::string ReadFile(const std::filesystem::path& path);
    // Lines of a file split on CR LF.
    static std::vector<std::string> CrLfLines(const std::string& text);

    std::filesystem::path dir;  // the application folder
    RecorderHost host;
    uint32_t clockMs = 5000;
    int clockReads = 0;
};

// A child process with pipes to its standard input and output (and standard
// error too, with mergeStderr).
class Child {
public:
    Child(const std::vector<std::string>& argv, bool pipeStdin = true, bool mergeStderr = false);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // Reads one line of standard output, waiting at most timeoutMs; false on timeout or end.
    bool ReadLine(std::string& line, int timeoutMs = 3000);
    void WriteStdin(const std::string& text);
    void Kill(int signal);
    int Wait();

private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string buffered_;
};

// Whether text has the given shape: '#' stands for one digit, every other
// character for itself.
bool MatchesShape(const std::string& text, const std::string& shape);

// A listening loopback socket that never accepts: a connection to it waits for
// a greeting that never comes. Closed, its port is a free one.
struct Listener {
    Listener();
    ~Listener() { Close(); }
    void Close();
    int fd = -1;
    int port = 0;
};
// Waits until a loopback port takes connections.
bool WaitForPort(int port, int timeoutMs = 10000);

// Waits until a monitor with this title accepts connections.
bool WaitForMonitor(const std::string& title, int timeoutMs = 5000);
std::string MonitorProgram();

}  // namespace vxtest
