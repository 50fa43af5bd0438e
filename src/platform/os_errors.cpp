#include "platform/os_errors.h"

#include <cerrno>

#include "platform/runtime_error.h"

namespace k9 {
namespace {

constexpr const char* kAccessText = "Path/File access error";

struct Row {
    int osError;
    OsErrorMeaning meaning;
};

constexpr Row kRows[] = {
    {ENOENT, {err::kFileNotFound, "File not found", syserr::kFileNotFound}},
    {ENOTDIR, {err::kPathFileAccess, kAccessText, syserr::kPathNotFound}},
    {EACCES, {err::kPermissionDenied, "Permission denied", syserr::kAccessDenied}},
    {EPERM, {err::kPermissionDenied, "Permission denied", syserr::kAccessDenied}},
    {EROFS, {err::kPermissionDenied, "Permission denied", syserr::kAccessDenied}},
    {EISDIR, {err::kPathFileAccess, kAccessText, syserr::kAccessDenied}},
    {EEXIST, {err::kPathFileAccess, kAccessText, syserr::kFileExists}},
    {ENOSPC, {err::kDiskFull, "Disk full", syserr::kDiskFull}},
    {EDQUOT, {err::kDiskFull, "Disk full", syserr::kDiskFull}},
    {EIO, {err::kDeviceIo, "Device I/O error", 0}},
};

}  // namespace

OsErrorMeaning osErrorMeaning(int osError, bool writing) {
    OsErrorMeaning meaning{err::kPathFileAccess, kAccessText, 0};
    for (const Row& row : kRows) {
        if (row.osError == osError) {
            meaning = row.meaning;
            break;
        }
    }
    if (meaning.systemCode == 0) {
        meaning.systemCode = writing ? syserr::kWriteFault : syserr::kReadFault;
    }
    return meaning;
}

}  // namespace k9
