// CImage: a 32-bit picture in a DIB section, loaded from PNG (or any format GDI+ reads) streams.
//
// Rows are stored bottom-up, as GDI keeps DIB sections: GetBits gives the start of the top row and
// GetPitch is negative, so row y starts at GetBits() + y * GetPitch(). A loaded picture keeps its
// alpha channel unchanged (straight, not premultiplied).
#pragma once

#include "afx/afxplatform.h"

#include <objidl.h>

class CImage
{
public:
    // Flag of Create: the picture's fourth byte is an alpha channel.
    static const DWORD createAlphaChannel = 0x01;

    CImage() = default;
    ~CImage();
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    // A new picture of the size (32 bits per pixel only), all bytes 0. FALSE when it cannot be made.
    BOOL Create(int nWidth, int nHeight, int nBPP, DWORD dwFlags = 0);
    void Destroy();
    bool IsNull() const { return m_hBitmap == nullptr; }

    // Replaces the picture with the one the stream holds, as 32 bits per pixel with alpha.
    HRESULT Load(IStream* pStream);

    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    int GetBPP() const { return m_hBitmap != nullptr ? 32 : 0; }
    int GetPitch() const { return m_nPitch; }
    void* GetBits() { return m_pTopRow; }
    const void* GetBits() const { return m_pTopRow; }
    bool HasAlphaChannel() const { return m_bAlpha; }
    operator HBITMAP() const { return m_hBitmap; }

private:
    HBITMAP m_hBitmap = nullptr;
    BYTE* m_pTopRow = nullptr;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nPitch = 0;
    bool m_bAlpha = false;
};

// Starts GDI+ once for the process (later calls return at once); FALSE when it cannot be started.
BOOL AfxGdiplusStartup();
