#include "afx/afxfile.h"

const HANDLE CFile::hFileNull = INVALID_HANDLE_VALUE;

int CFileException::OsErrorToException(LONG osError)
{
    switch (osError) {
    case NO_ERROR:
        return none;
    case ERROR_FILE_NOT_FOUND:
        return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
        return badPath;
    case ERROR_TOO_MANY_OPEN_FILES:
        return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return accessDenied;
    case ERROR_INVALID_HANDLE:
        return invalidFile;
    case ERROR_CURRENT_DIRECTORY:
        return removeCurrentDir;
    case ERROR_CANNOT_MAKE:
        return directoryFull;
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK:
        return badSeek;
    case ERROR_SHARING_VIOLATION:
        return sharingViolation;
    case ERROR_LOCK_VIOLATION:
        return lockViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return diskFull;
    case ERROR_HANDLE_EOF:
        return endOfFile;
    case ERROR_CRC:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
        return hardIO;
    default:
        return genericException;
    }
}

CFile::~CFile()
{
    Close();
}

BOOL CFile::Open(LPCWSTR fileName, UINT openFlags, CFileException* error)
{
    Close();
    DWORD access = 0;
    switch (openFlags & 0x3) {
    case modeRead:
        access = GENERIC_READ;
        break;
    case modeWrite:
        access = GENERIC_WRITE;
        break;
    default:
        access = GENERIC_READ | GENERIC_WRITE;
        break;
    }
    DWORD share = 0;
    switch (openFlags & 0x70) {
    case shareDenyWrite:
        share = FILE_SHARE_READ;
        break;
    case shareDenyRead:
        share = FILE_SHARE_WRITE;
        break;
    case shareDenyNone:
        share = FILE_SHARE_READ | FILE_SHARE_WRITE;
        break;
    default: // exclusive
        break;
    }
    DWORD disposition = OPEN_EXISTING;
    if (openFlags & modeCreate) {
        disposition = (openFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    }
    SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, (openFlags & modeNoInherit) ? FALSE : TRUE};
    HANDLE handle =
        ::CreateFileW(fileName, access, share, &security, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD osError = ::GetLastError();
        if (error != nullptr) {
            error->m_lOsError = static_cast<LONG>(osError);
            error->m_cause = CFileException::OsErrorToException(static_cast<LONG>(osError));
        }
        ::SetLastError(osError);
        return FALSE;
    }
    m_hFile = handle;
    return TRUE;
}

void CFile::Close()
{
    if (m_hFile != hFileNull) {
        ::CloseHandle(m_hFile);
        m_hFile = hFileNull;
    }
}

BOOL CFile::Write(const void* buffer, UINT count)
{
    if (count == 0) {
        return TRUE;
    }
    DWORD written = 0;
    if (!::WriteFile(m_hFile, buffer, count, &written, nullptr)) {
        return FALSE;
    }
    if (written != count) {
        ::SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return TRUE;
}

UINT CFile::Read(void* buffer, UINT count)
{
    DWORD read = 0;
    if (count == 0 || !::ReadFile(m_hFile, buffer, count, &read, nullptr)) {
        return 0;
    }
    return read;
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from)
{
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!::SetFilePointerEx(m_hFile, distance, &position, from)) {
        return static_cast<ULONGLONG>(-1);
    }
    return static_cast<ULONGLONG>(position.QuadPart);
}

ULONGLONG CFile::GetLength() const
{
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(m_hFile, &size)) {
        return 0;
    }
    return static_cast<ULONGLONG>(size.QuadPart);
}
