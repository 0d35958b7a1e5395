// Helpers shared by the unit test programs: a string's text for readable comparisons, and the bytes
// of files.
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
