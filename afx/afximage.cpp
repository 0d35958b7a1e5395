// Pictures in DIB sections, read through GDI+.
#include "afx/afximage.h"

#include <gdiplus.h>

#include <cstring>
#include <mutex>

namespace gp = Gdiplus::DllExports;

BOOL AfxGdiplusStartup()
{
    // GDI+ stays up for the life of the process: pictures may be loaded and drawn until the end.
    static std::once_flag once;
    static BOOL started = FALSE;
    std::call_once(once, [] {
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartupInput input;
        started = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    });
    return started;
}

CImage::~CImage()
{
    Destroy();
}

BOOL CImage::Create(int nWidth, int nHeight, int nBPP, DWORD dwFlags)
{
    Destroy();
    if (nWidth <= 0 || nHeight <= 0 || nBPP != 32)
        return FALSE;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = nWidth;
    info.bmiHeader.biHeight = nHeight; // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    HBITMAP hBitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pBits, nullptr, 0);
    if (hBitmap == nullptr || pBits == nullptr)
        return FALSE;
    m_hBitmap = hBitmap;
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    m_nPitch = -nWidth * 4;
    m_pTopRow =
        static_cast<BYTE*>(pBits) + static_cast<size_t>(nHeight - 1) * static_cast<size_t>(nWidth) * 4;
    m_bAlpha = (dwFlags & createAlphaChannel) != 0;
    std::memset(pBits, 0, static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight) * 4);
    return TRUE;
}

void CImage::Destroy()
{
    if (m_hBitmap != nullptr)
        ::DeleteObject(m_hBitmap);
    m_hBitmap = nullptr;
    m_pTopRow = nullptr;
    m_nWidth = m_nHeight = m_nPitch = 0;
    m_bAlpha = false;
}

HRESULT CImage::Load(IStream* pStream)
{
    Destroy();
    if (pStream == nullptr || !AfxGdiplusStartup())
        return E_FAIL;
    Gdiplus::GpBitmap* pBitmap = nullptr;
    if (gp::GdipCreateBitmapFromStream(pStream, &pBitmap) != Gdiplus::Ok || pBitmap == nullptr)
        return E_FAIL;
    HRESULT result = E_FAIL;
    UINT width = 0, height = 0;
    gp::GdipGetImageWidth(pBitmap, &width);
    gp::GdipGetImageHeight(pBitmap, &height);
    Gdiplus::GpRect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    Gdiplus::BitmapData data = {};
    if (width > 0 && height > 0 &&
        Create(static_cast<int>(width), static_cast<int>(height), 32, createAlphaChannel) &&
        gp::GdipBitmapLockBits(pBitmap, &all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) ==
            Gdiplus::Ok) {
        for (UINT y = 0; y < height; ++y) {
            const BYTE* source = static_cast<const BYTE*>(data.Scan0) + static_cast<INT_PTR>(y) * data.Stride;
            std::memcpy(m_pTopRow + static_cast<INT_PTR>(y) * m_nPitch, source, width * 4);
        }
        gp::GdipBitmapUnlockBits(pBitmap, &data);
        result = S_OK;
    } else {
        Destroy();
    }
    gp::GdipDisposeImage(pBitmap);
    return result;
}
