// The trap's decoding of remote errors (an error source that carries the levels
// of components below us) on arbitrary sources and numbers, and the report it
// composes.

#include "Vexlor.h"
#include "VexlorTesting.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    int32_t number;
    std::memcpy(&number, data, 4);
    const std::string source(reinterpret_cast<const char*>(data + 4), size - 4);
    static const bool started = [] {
        modVexlor::testhooks::SetApplicationFolder("/nonexistent-velorizer-fuzz");
        modVexlor::vxSTART();
        return true;
    }();
    (void)started;
    modVexlor::vxPUSH("fuzz", "Sub Outer");
    modVexlor::vxPUSH("fuzz", "Sub Inner");
    const int16_t result = modVexlor::vxERROR("fuzz", "Sub Inner", vb::RunTimeError(number, "text", source));
    modVexlor::vxPOP("fuzz", "Sub Inner");
    modVexlor::vxPOP("fuzz", "Sub Outer");
    if (result != 5 && result != 0) std::abort();
    const int levels = modVexlor::RemoteLevelCount();
    if (levels < 0 || levels > 10) std::abort();
    const bool remote = source.find('!') != std::string::npos;
    if (!remote && levels != 0) std::abort();
    // A negative number puts its own text in front: "... : Remote Automation error".
    const std::string& description = modVexlor::ErrorRecord().Description[0];
    if (remote && !description.ends_with("Remote Automation error")) std::abort();
    const std::string report = modVexlor::ComposeErrorReport();
    if (report.find("Error 0\r\n") == std::string::npos) std::abort();
    if (levels > 0 && report.find("Error " + std::to_string(levels) + "\r\n") == std::string::npos) std::abort();
    if (modVexlor::CallDepth() != 0) std::abort();
    return 0;
}
