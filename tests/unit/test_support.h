// Helpers shared by the unit test programs: a string's text for readable comparisons, the bytes of
// files, and loopback sockets.
#pragma once

#include "afx/afxplatform.h"
#include "foundation/MfxString.h"

#include <gtest/gtest.h>
#include <string>

inline std::wstring Text(const CMfxString& s)
{
    return std::wstring(s.GetString(), s.GetLength());
}

// The text as UTF-8 bytes.
inline std::string Narrow(const CMfxString& text)
{
    return std::string(CMfxString(text).GetUtf8());
}

// The file's bytes (only the last `fromEnd` ones when given), or "<missing>".
inline std::string ReadBytes(const CMfxString& path, LONGLONG fromEnd = 0)
{
    HANDLE file = CreateFileW(path.GetString(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    LARGE_INTEGER start = {};
    start.QuadPart = fromEnd > 0 && fromEnd < size.QuadPart ? size.QuadPart - fromEnd : 0;
    SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    std::string bytes(static_cast<size_t>(size.QuadPart - start.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty()) {
        ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    }
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

// Writes the file anew; with a size, the file is then cut or extended to it.
inline void WriteBytes(const CMfxString& path, const std::string& bytes, LONGLONG size = -1)
{
    HANDLE file = CreateFileW(path.GetString(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (size >= 0) {
        LARGE_INTEGER end = {};
        end.QuadPart = size;
        SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
    }
    CloseHandle(file);
}

// A socket bound to 127.0.0.1 on an ephemeral port, listening when it is a stream socket; `port` is
// the port it got.
inline SOCKET LoopbackSocket(int type, UINT& port)
{
    SOCKET s = socket(AF_INET, type, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    if (type == SOCK_STREAM) {
        EXPECT_EQ(listen(s, 4), 0);
    }
    int length = sizeof(address);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return s;
}
