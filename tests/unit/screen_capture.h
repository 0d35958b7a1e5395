// The pixels of a rectangle of a device context (a window's or the screen's), read the way a screen
// capture reads them: 32-bit top-down rows, blue, green, red and an unused byte per pixel. Used by
// the list drawing tests and by the dialog driver's screenshots.
#pragma once

#include <windows.h>

#include <vector>

// The description of a 32-bit top-down picture.
inline BITMAPINFO TopDown32(int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    return info;
}

inline std::vector<BYTE> CaptureBgra(HDC hSource, int left, int top, int width, int height)
{
    const BITMAPINFO info = TopDown32(width, height);
    void* pBits = nullptr;
    HBITMAP hBitmap = ::CreateDIBSection(hSource, &info, DIB_RGB_COLORS, &pBits, nullptr, 0);
    HDC hMemory = ::CreateCompatibleDC(hSource);
    HGDIOBJ previous = ::SelectObject(hMemory, hBitmap);
    ::BitBlt(hMemory, 0, 0, width, height, hSource, left, top, SRCCOPY);
    ::GdiFlush();
    const BYTE* pFirst = static_cast<const BYTE*>(pBits);
    std::vector<BYTE> bgra(pFirst, pFirst + static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    ::SelectObject(hMemory, previous);
    ::DeleteDC(hMemory);
    ::DeleteObject(hBitmap);
    return bgra;
}
