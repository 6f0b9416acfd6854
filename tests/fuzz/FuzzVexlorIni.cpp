// The initialisation-file reader on arbitrary files, and the settings start-up
// takes from them, with a few trace lines through whatever circular log they
// describe: every value fits its buffer and its line, and the ring never
// outgrows its slots.

#include "ScratchFolder.h"
#include "VexlorPlatform.h"
#include "VexlorTesting.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vxp = modVexlor::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& folder = fuzzsupport::ScratchFolder();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string ini = folder + "/VXCLIENT.INI";
    {
        FILE* f = std::fopen(ini.c_str(), "wb");
        if (!f) std::abort();
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    struct Key {
        const char *section, *key;
        std::size_t buffer;
    };
    static const Key kKeys[] = {{"preferences", "CircularLog", 5},  {"CicularLog", "FileName", 128},
                                {"CicularLog", "RecordSize", 128},  {"CicularLog", "MaxRecords", 128},
                                {"email", "Address", 255},          {"log file", "Write To Disk", 8},
                                {"log file", "Capture To Disk", 8}, {"log file", "Log File", 128},
                                {"include", "Resources", 2},        {"INCLUDE", "arguments", 2}};
    for (const auto& k : kKeys) {
        const std::string v = vxp::GetPrivateProfileString(k.section, k.key, "default", k.buffer, ini);
        if (v.size() >= k.buffer) std::abort();
        // One entry per line: a value never reaches into the next one.
        if (v.find('\n') != std::string::npos) std::abort();
    }

    // Start-up writes to the files the settings name: only where they stay in
    // the scratch folder.
    if (text.find('/') != std::string::npos || text.find("..") != std::string::npos) return 0;
    modVexlor::testhooks::Reset();
    modVexlor::testhooks::SetApplicationFolder(folder);
    modVexlor::vxSTART();
    const auto& st = modVexlor::Settings();
    for (int i = 0; i < 50; ++i) {
        modVexlor::vxPUSH("fuzz", "Sub Deep", "arguments");
        modVexlor::vxPOP("fuzz", "Sub Deep", "arguments");
    }
    if (st.CircularLogEnabled && st.CircularRecordSize > 0) {
        struct stat s = {};
        if (::stat(st.CircularLogPath.c_str(), &s) == 0) {
            const long slots = st.CircularSlotCount > 0 ? st.CircularSlotCount : 1;
            if (s.st_size > 512 + slots * static_cast<long>(st.CircularRecordSize) && s.st_size > 512 + 1024)
                std::abort();
        }
    }
    // Leave no file behind for the next input but the configuration itself.
    const std::string ring = st.CircularLogPath;
    modVexlor::testhooks::Reset();
    if (!ring.empty()) ::unlink(ring.c_str());
    return 0;
}
