// Settings and start-up.
//
// Setting the process error mode and raising the timer resolution have
// nothing to do on this system: there are no critical-error boxes to
// suppress, and the steady clock already counts whole milliseconds.

#include "VexlorStartup.h"

#include "RunTimeError.h"
#include "VexlorModule.h"
#include "VexlorPlatform.h"
#include "VexlorTrace.h"

#include <cstdint>

namespace modVexlor {

using namespace detail;

namespace {

std::string Profile(const char* section, const char* key, const char* def, std::size_t size, const std::string& file) {
    return platform::GetPrivateProfileString(section, key, def, size, file);
}

}  // namespace

std::string ClientIniName() { return "VXCLIENT.INI"; }

void vxSTART() noexcept {
    Module& g = TheModule();
    if (g.initialised) return;
    auto& st = g.settings;
    std::string folder;
    std::string ini;
    // Up to the initialisation mark, a failing step is skipped.
    try {
        folder = ApplicationFolder();
        ini = folder + "/" + ClientIniName();
    } catch (...) {
    }
    try {
        st.CircularLogEnabled = Profile("preferences", "CircularLog", "0", 5, ini).starts_with("1");
        // Always in the application folder, even when the value holds a path.
        st.CircularLogPath = folder + "/" + Profile("CicularLog", "FileName", "circ0001.log", 128, ini);
    } catch (...) {
    }
    if (st.CircularLogEnabled) {
        try {
            if (auto size = CInt(Profile("CicularLog", "RecordSize", "1024", 128, ini))) st.CircularRecordSize = *size;
        } catch (...) {
        }
        try {
            if (auto records = CInt(Profile("CicularLog", "MaxRecords", "20", 128, ini))) {
                int slots = 2 * *records;
                if (slots >= INT16_MIN && slots <= INT16_MAX) st.CircularSlotCount = static_cast<int16_t>(slots);
            }
        } catch (...) {
        }
        try {
            // A file that can't be opened leaves the switch on: the first trace
            // line reports it and switches the log off.
            OpenCircularLog();
        } catch (...) {
        }
    }
    for (auto& frame : g.callStack) frame.clear();
    g.levelElapsed.fill(0);
    g.callDepth = 0;
    g.initialised = true;
    try {
        g.callStack[0] =
            "Vexlor(tm) : Program START <" + platform::CurrentDate() + ", " + platform::CurrentTime() + ">";
    } catch (...) {
    }

    try {
        if (platform::FileExists(ini)) {
            st.ReportAddress = Profile("email", "Address", "", 255, ini);
            st.MailServer = Profile("email", "Server", "smtp://localhost", 255, ini);
            st.MailFrom = Profile("email", "From", "", 255, ini);
            st.WriteToDisk = Val(Profile("log file", "Write To Disk", "", 8, ini)) > 0;
            st.CaptureToDisk = Val(Profile("log file", "Capture To Disk", "", 8, ini)) > 0;
            if (st.WriteToDisk) {
                std::string logFile = Profile("log file", "Log File", "error.log", 128, ini);
                st.ErrorLogPath = Contains(logFile, "/") ? logFile : folder + "/" + logFile;
            }
            st.IncludeResources = Val(Profile("include", "Resources", "1", 2, ini)) != 0;
            st.IncludeMemory = Val(Profile("include", "Memory", "1", 2, ini)) != 0;
            st.IncludeArguments = Val(Profile("include", "Arguments", "1", 2, ini)) == 1;
            st.IncludeUser = Val(Profile("include", "User", "1", 2, ini)) != 0;
        }
        st.InDevelopmentEnvironment =
            hooks.developmentEnvironment ? *hooks.developmentEnvironment : platform::DebuggerAttached();
        g.appTag = "[" + ExecutableName() + "] ";
        g.startTicks = platform::timeGetTime();
        g.levelElapsed[0] = static_cast<Milliseconds4>(g.startTicks) * kUnitsPerMs;
        st.MonitorAttached = g.monitorLink.ConnectFirst();
        EmitTraceLine(g.appTag + platform::CurrentDate() + " " + platform::CurrentTime() + " - start Vexlor client v" +
                      std::string(kVersion) + " data capture" + std::string(kCrLf));
        g.projectSource = vb::RunTimeError(vb::errInvalidCall).Source();
    } catch (...) {
        pfErr(static_cast<int16_t>(ErrorNumberOfCurrentException()), "vxSTART()");
    }
}

}  // namespace modVexlor
