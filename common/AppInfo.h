#pragma once
// The program's identity and where it runs from, as the runtime reports them.

#include <string>

namespace vb {

struct AppInfo {
    static constexpr const char* Title = "Ostrelco Velorizer";
    static constexpr const char* CompanyName = "Ostrelco, Inc.";
    static int Major();
    static int Minor();
    static int Revision();
    // Folder holding the running executable, without a trailing separator.
    static std::string Path();
    // Executable's file name without folder and extension.
    static std::string EXEName();
};

}  // namespace vb
