// Files of the class library layer.
#pragma once

#include "afx/afxplatform.h"

// A file opened by name. Operations report failure by their result (the system's error code stays
// in GetLastError); none of them throws, so a full disk or a vanished share never ends the program.
class CFile : public CObject
{
public:
    enum OpenFlags : UINT
    {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        // Create the file when it is missing; empty it when it exists, unless modeNoTruncate.
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000
    };
    enum SeekPosition
    {
        begin = FILE_BEGIN,
        current = FILE_CURRENT,
        end = FILE_END
    };

    static const HANDLE hFileNull;

    CFile() = default;
    ~CFile() override;

    // Opens `fileName`; FALSE when that fails, with the cause in `error` when one is given.
    // A file that is already open is closed first.
    BOOL Open(LPCWSTR fileName, UINT openFlags, CFileException* error = nullptr);
    void Close();
    bool IsOpen() const { return m_hFile != hFileNull; }

    // TRUE when all `count` bytes were written.
    BOOL Write(const void* buffer, UINT count);
    // Bytes read, 0 at the end of the file or on failure.
    UINT Read(void* buffer, UINT count);
    // The new position from the start, or (ULONGLONG)-1 on failure.
    ULONGLONG Seek(LONGLONG offset, UINT from);
    ULONGLONG SeekToEnd() { return Seek(0, end); }
    void SeekToBegin() { Seek(0, begin); }
    // Length in bytes, 0 on failure.
    ULONGLONG GetLength() const;

    operator HANDLE() const { return m_hFile; }

    HANDLE m_hFile = hFileNull;
};
