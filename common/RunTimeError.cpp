#include "RunTimeError.h"

#include <cerrno>
#include <new>
#include <system_error>
#include <utility>

namespace vb {

namespace {
std::string& ProjectSourceStorage() {
    static std::string source = "Velorizer";
    return source;
}
}  // namespace

RunTimeError::RunTimeError(int32_t number, std::string description, std::string source, SourceLocation where)
    : number_(number),
      source_(source.empty() ? ProjectSource() : std::move(source)),
      description_(description.empty() ? StandardErrorText(number) : std::move(description)),
      line_(static_cast<int32_t>(where.line())),
      file_(where.file_name()) {}

std::string StandardErrorText(int32_t number) {
    switch (number) {
        case 3: return "Return without GoSub";
        case 5: return "Invalid procedure call or argument";
        case 6: return "Overflow";
        case 7: return "Out of memory";
        case 9: return "Subscript out of range";
        case 11: return "Division by zero";
        case 13: return "Type mismatch";
        case 28: return "Out of stack space";
        case 52: return "Bad file name or number";
        case 53: return "File not found";
        case 54: return "Bad file mode";
        case 55: return "File already open";
        case 57: return "Device I/O error";
        case 58: return "File already exists";
        case 61: return "Disk full";
        case 62: return "Input past end of file";
        case 67: return "Too many files";
        case 68: return "Device unavailable";
        case 70: return "Permission denied";
        case 71: return "Disk not ready";
        case 75: return "Path/File access error";
        case 76: return "Path not found";
        case 91: return "Object variable or With block variable not set";
        case 380: return "Invalid property value";
        case 440: return "Automation error";
        default: return "Application-defined or object-defined error";
    }
}

int32_t ErrorNumberFromErrno(int err) noexcept {
    switch (err) {
        case ENOENT: return errFileNotFound;
        case ENOTDIR: return errPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY: return errPermissionDenied;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return errDiskFull;
        case EIO: return errDeviceIO;
        case ENOMEM: return errOutOfMemory;
        case EMFILE:
        case ENFILE: return 67;
        case EEXIST: return 58;
        case EINVAL:
        case EISDIR:
        case ELOOP:
        case ENAMETOOLONG:
        case ENXIO:
        case ENODEV:
        case EBUSY:
        case EWOULDBLOCK: return errPathFileAccess;
        default: return errDeviceIO;
    }
}

RunTimeError ErrnoError(int err, std::string source, SourceLocation where) {
    return RunTimeError(ErrorNumberFromErrno(err), {}, std::move(source), where);
}

RunTimeError CurrentExceptionAsRunTimeError() {
    try {
        throw;
    } catch (const RunTimeError& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return RunTimeError(errOutOfMemory).WithLine(0);
    } catch (const std::system_error& e) {
        if (e.code().category() == std::generic_category() || e.code().category() == std::system_category())
            return ErrnoError(e.code().value()).WithLine(0);
        return RunTimeError(errAutomation).WithLine(0);
    } catch (...) {
        return RunTimeError(errAutomation).WithLine(0);
    }
}

const std::string& ProjectSource() { return ProjectSourceStorage(); }
void SetProjectSource(std::string source) { ProjectSourceStorage() = std::move(source); }

}  // namespace vb
