// Platform headers and the types shared by the whole class library layer.
#pragma once

// Winsock 2 must come before windows.h (never the old winsock.h).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <exception>

// Base of the layer's long-lived objects: a virtual destructor and no copying.
class CObject
{
public:
    virtual ~CObject() = default;

protected:
    CObject() = default;
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
};

// Exceptions of the layer. They are thrown by value and caught by reference; running out of
// memory throws std::bad_alloc.
class CException : public std::exception
{
public:
    const char* what() const noexcept override { return "class library exception"; }
};

// An argument outside what the operation accepts (a negative length, a length beyond a buffer).
class CInvalidArgException : public CException
{
public:
    const char* what() const noexcept override { return "invalid argument"; }
};

// Details of a failed file operation; CFile::Open fills one in when asked to.
class CFileException : public CException
{
public:
    enum
    {
        none = 0,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };

    CFileException() = default;
    CFileException(int cause, LONG osError) : m_cause(cause), m_lOsError(osError) {}
    const char* what() const noexcept override { return "file exception"; }

    // The cause for a Win32 error code.
    static int OsErrorToException(LONG osError);

    int m_cause = none;
    LONG m_lOsError = 0;
};
