// Trace outputs: the error log, the circular log ring and the monitor link
// with its pause.

#include "VexlorTrace.h"

#include "VexlorHost.h"
#include "VexlorModule.h"
#include "VexlorPlatform.h"

#include <algorithm>

namespace modVexlor {

using detail::kCrLf;
using detail::Module;
using detail::TheModule;

namespace {

constexpr std::string_view kSignature = "HM100";
constexpr std::size_t kFillLength = 1024;
constexpr std::size_t kHeaderSize = 512;
// The record size is written as text from the header's fifth byte on.
constexpr int64_t kRecordSizeAt = 4;

int OpenCircularFile(const Module& g) {
    return platform::OpenFile(g.settings.CircularLogPath, platform::OpenMode::ReadWrite);
}

void WriteSignature(const Module& g) {
    // The signature sits right after the record size text in the header.
    const auto at = kRecordSizeAt + static_cast<int64_t>(std::to_string(g.settings.CircularRecordSize).size());
    platform::WriteAt(g.circularFd, kSignature, at);
}

void WriteCircularRecord(Module& g, std::string_view line) {
    auto& st = g.settings;
    if (g.circularFd < 0) {
        g.circularFd = OpenCircularFile(g);
        if (g.circularFd < 0) {
            if (st.InDevelopmentEnvironment)
                CurrentHost().MsgBox("Could not open circular log file " + st.CircularLogPath, vbCritical, "");
            st.CircularLogEnabled = false;
            return;
        }
        WriteSignature(g);
    }
    if (++g.circularSlot > st.CircularSlotCount) g.circularSlot = 1;
    const long size = st.CircularRecordSize;
    if (size > 0) {
        // The line, cut to the record size, then zero bytes to the end of the
        // slot, but never more than 1024 of them.
        std::size_t keep = std::min<std::size_t>(line.size(), static_cast<std::size_t>(size));
        std::size_t zeros = std::min<std::size_t>(static_cast<std::size_t>(size) - keep, kFillLength);
        std::string record(line.substr(0, keep));
        record.append(zeros, '\0');
        const int64_t at = static_cast<int64_t>(kHeaderSize) + static_cast<int64_t>(g.circularSlot - 1) * size;
        // A failed write is skipped: the line is missing from the ring.
        platform::WriteAt(g.circularFd, record, at);
    }
    // Closed and opened again after every record, so each reaches the disk at once.
    platform::CloseFile(g.circularFd);
    g.circularFd = platform::OpenFile(st.CircularLogPath, platform::OpenMode::ReadWriteOnly);
}

void SendToMonitor(Module& g, std::string_view line) {
    auto answer = g.monitorLink.SendText(line);
    if (!answer || *answer != monitor::kPauseAnswer) return;
    Host& host = CurrentHost();
    host.DisableForms();
    for (;;) {
        auto stillPaused = g.monitorLink.Ask(1);
        if (!stillPaused || *stillPaused == 0) break;  // over, or the monitor is gone
        host.DoEvents();
        auto over = g.monitorLink.Ask(2);
        if (!over || *over != 0) break;
        platform::Sleep(10);  // don't spin a core while the user looks at the monitor
    }
    host.EnableForms();
}

}  // namespace

void OpenCircularLog() {
    Module& g = TheModule();
    g.circularFd = OpenCircularFile(g);
    if (g.circularFd >= 0) {
        const std::string size = std::to_string(g.settings.CircularRecordSize);
        if (platform::WriteAt(g.circularFd, size, kRecordSizeAt)) WriteSignature(g);
    }
}

void EmitTraceLine(std::string_view line) noexcept {
    Module& g = TheModule();
    auto& st = g.settings;
    if (st.CaptureToDisk) AppendToErrorLog(line);
    if (st.CircularLogEnabled) {
        try {
            WriteCircularRecord(g, line);
        } catch (...) {
        }
    }
    if (st.MonitorAttached) {
        try {
            SendToMonitor(g, line);
        } catch (...) {
        }
    }
}

void AppendToErrorLog(std::string_view line) noexcept {
    const auto& st = TheModule().settings;
    if (!st.WriteToDisk) return;
    const int fd = platform::OpenFile(st.ErrorLogPath, platform::OpenMode::Append);
    if (fd < 0) return;
    try {
        std::string text(line);
        text += kCrLf;
        platform::WriteAll(fd, text);  // a failed write is skipped: the line is missing from the log
    } catch (...) {
    }
    platform::CloseFile(fd);
}

}  // namespace modVexlor
