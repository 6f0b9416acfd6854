#pragma once
// The run-time error every subsystem raises and traps: a number, a source and a
// description, plus the line of our own code that raised it (0 when the error
// came from elsewhere, such as a standard-library exception).

#include <cstdint>
#include <exception>
#include <string>
#include <version>
#if defined(__cpp_lib_source_location)
#include <source_location>
#endif

namespace vb {

// The place in our code that raised an error. std::source_location where the
// compiler offers it; clang 14 (the fuzzing build) lacks its builtin, so the
// same two builtins stand in there.
#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
struct SourceLocation {
    static constexpr SourceLocation current(unsigned line = __builtin_LINE(),
                                            const char* file = __builtin_FILE()) noexcept {
        SourceLocation l;
        l.line_ = line;
        l.file_ = file;
        return l;
    }
    constexpr unsigned line() const noexcept { return line_; }
    constexpr const char* file_name() const noexcept { return file_; }

private:
    unsigned line_ = 0;
    const char* file_ = "";
};
#endif

// Error numbers of the runtime that this program raises or maps to.
enum ErrorNumber : int32_t {
    errInvalidCall = 5,
    errOverflow = 6,
    errOutOfMemory = 7,
    errTypeMismatch = 13,
    errFileNotFound = 53,
    errBadFileMode = 54,
    errDeviceIO = 57,
    errDiskFull = 61,
    errPermissionDenied = 70,
    errPathFileAccess = 75,
    errPathNotFound = 76,
    errAutomation = 440,
};

// Base of errors raised by objects (vbObjectError).
constexpr int32_t kObjectError = static_cast<int32_t>(0x80040000u);

class RunTimeError : public std::exception {
public:
    // number: the error number; description empty = the runtime's standard text;
    // source empty = the project's own source (ProjectSource()).
    explicit RunTimeError(int32_t number, std::string description = {}, std::string source = {},
                          SourceLocation where = SourceLocation::current());

    int32_t Number() const noexcept { return number_; }
    const std::string& Source() const noexcept { return source_; }
    const std::string& Description() const noexcept { return description_; }
    // Line of our code that raised the error; 0 when it is unknown.
    int32_t Line() const noexcept { return line_; }
    const char* File() const noexcept { return file_; }
    const std::string& HelpFile() const noexcept { return helpFile_; }
    int32_t HelpContext() const noexcept { return helpContext_; }

    RunTimeError& WithLine(int32_t line) noexcept {
        line_ = line;
        return *this;
    }
    RunTimeError& WithHelp(std::string file, int32_t context) {
        helpFile_ = std::move(file);
        helpContext_ = context;
        return *this;
    }

    const char* what() const noexcept override { return description_.c_str(); }

private:
    int32_t number_;
    std::string source_;
    std::string description_;
    int32_t line_;
    const char* file_;
    std::string helpFile_;
    int32_t helpContext_ = 0;
};

// The runtime's standard text for an error number ("File not found" for 53);
// "Application-defined or object-defined error" for numbers it doesn't know.
std::string StandardErrorText(int32_t number);

// The run-time error number for an operating-system error code (errno).
int32_t ErrorNumberFromErrno(int err) noexcept;

// A run-time error for errno, raised at the caller's line.
RunTimeError ErrnoError(int err, std::string source = {}, SourceLocation where = SourceLocation::current());

// Converts whatever a catch(...) caught into a run-time error. Run-time errors
// pass unchanged; any other exception becomes error 440 (7 for bad_alloc) with
// line 0, since it was not raised by our code.
RunTimeError CurrentExceptionAsRunTimeError();

// The error source of errors raised by the program's own code (its project name).
const std::string& ProjectSource();
void SetProjectSource(std::string source);

}  // namespace vb
