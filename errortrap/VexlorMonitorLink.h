#pragma once
// The link to the external monitor. A monitor announces itself as a local
// stream socket named after its window title in the per-user monitor folder.
// Only a folder of this user's own, and a monitor that runs as this user, are
// trusted: anything else counts as no monitor. Each request is one text line,
// answered by one line holding a number:
//   "T <length>\n" followed by <length> bytes   a trace line; 128 = pause
//   "Q 1\n"                                     still paused? 0 = no
//   "Q 2\n"                                     pause over? non-zero = yes

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace modVexlor::monitor {

inline constexpr std::string_view kTitle = "Orvane Vexlor";
inline constexpr std::string_view kTitlePrefix = "Orvane Vexlor -";
inline constexpr int32_t kPauseAnswer = 128;

// Whether a name is the title of a monitor: exactly the title, or the title
// followed by " -" and anything.
bool IsMonitorTitle(std::string_view name);

// Socket path of the monitor with this title.
std::string SocketPath(const std::string& title);

// Monitor titles present in the monitor folder, in name order; none when the
// folder is not private to this user.
std::vector<std::string> ListMonitorTitles();

class Link {
public:
    Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
    ~Link() { Close(); }

    // Connects to a monitor that runs as this user.
    bool Connect(const std::string& socketPath);
    // Connects to the first monitor, in name order, that accepts.
    bool ConnectFirst();
    bool Connected() const { return fd_ >= 0; }
    void Close();

    // Sends a trace line; the monitor's answer, or nothing when the link failed.
    std::optional<int32_t> SendText(std::string_view line);
    // Asks one of the two pause questions (1 or 2).
    std::optional<int32_t> Ask(int question);

    // How long one request may take, sending and answer together. A monitor
    // that is stopped, or stuck writing to a reader that doesn't read, is
    // dropped after that, as if it had gone away.
    void SetTimeout(int milliseconds) { timeoutMs_ = milliseconds; }

private:
    std::optional<int32_t> Request(std::string_view head, std::string_view body);
    int fd_ = -1;
    int timeoutMs_ = 1000;
};

}  // namespace modVexlor::monitor
