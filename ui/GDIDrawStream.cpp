#include "ui/GDIDrawStream.h"

#include "res/resource.h"

#include <gdiplus.h>

#include <cstring>

namespace gp = Gdiplus::DllExports;

// ---------------------------------------------------------------------------------------------
// DrawStreamCommand

namespace {

void PutField(BYTE* bytes, size_t offset, DWORD value)
{
    for (size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<BYTE>(value >> (8 * i));
}

void PutRect(BYTE* bytes, size_t offset, const RECT& rect)
{
    PutField(bytes, offset, static_cast<DWORD>(rect.left));
    PutField(bytes, offset + 4, static_cast<DWORD>(rect.top));
    PutField(bytes, offset + 8, static_cast<DWORD>(rect.right));
    PutField(bytes, offset + 12, static_cast<DWORD>(rect.bottom));
}

DWORD HandleField(const void* handle)
{
    return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(handle));
}

} // namespace

void DrawStreamCommand::Fill(HDC hDestDC, const RECT& destination, HBITMAP hSource, const RECT& source,
                             const RECT& inner)
{
    std::memset(bytes, 0, kSize);
    PutField(bytes, 0, kMagic);
    PutField(bytes, 4, 0);
    PutField(bytes, 8, HandleField(hDestDC));
    PutRect(bytes, 12, destination);
    PutField(bytes, 28, 1);
    PutField(bytes, 32, HandleField(hSource));
    PutField(bytes, 36, kNineGrid);
    PutRect(bytes, 40, destination);
    PutRect(bytes, 56, source);
    PutField(bytes, 72, kPerPixelAlpha);
    PutField(bytes, 76, static_cast<DWORD>(inner.left - source.left));
    PutField(bytes, 80, static_cast<DWORD>(source.right - inner.right));
    PutField(bytes, 84, static_cast<DWORD>(inner.top - source.top));
    PutField(bytes, 88, static_cast<DWORD>(source.bottom - inner.bottom));
    PutField(bytes, 92, 0xFF);
}

DWORD DrawStreamCommand::Field(size_t offset) const
{
    DWORD value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<DWORD>(bytes[offset + i]) << (8 * i);
    return value;
}

// ---------------------------------------------------------------------------------------------
// CGDIDrawStream

CGDIDrawStream::CGDIDrawStream()
{
    Init();
}

CGDIDrawStream::~CGDIDrawStream()
{
    if (m_hGdi32 != nullptr)
        ::FreeLibrary(m_hGdi32);
}

void CGDIDrawStream::Init()
{
    m_hGdi32 = ::LoadLibraryW(L"GDI32.dll");
    if (m_hGdi32 != nullptr)
        m_pfnDrawStream = reinterpret_cast<PFN_GDIDRAWSTREAM>(::GetProcAddress(m_hGdi32, "GdiDrawStream"));
    m_Loaded = FALSE;
}

BOOL CGDIDrawStream::DrawNineGridStream(CDC* pDC, HBITMAP hSource, const RECT& destination,
                                        const RECT& source, const RECT& inner)
{
    if (pDC == nullptr || pDC->GetSafeHdc() == nullptr || hSource == nullptr)
        return FALSE;
    if (m_pfnDrawStream != nullptr) {
        DrawStreamCommand command;
        command.Fill(pDC->GetSafeHdc(), destination, hSource, source, inner);
        if (m_pfnDrawStream(pDC->GetSafeHdc(), DrawStreamCommand::kSize, command.bytes))
            return TRUE;
    }
    // The same picture through alpha blending of its premultiplied pixels.
    CDC sourceDC;
    if (!sourceDC.CreateCompatibleDC(pDC))
        return FALSE;
    HGDIOBJ previous = sourceDC.SelectObject(static_cast<HGDIOBJ>(hSource));
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    BOOL drawn = ::AlphaBlend(pDC->GetSafeHdc(), destination.left, destination.top,
                              destination.right - destination.left, destination.bottom - destination.top,
                              sourceDC.GetSafeHdc(), source.left, source.top, source.right - source.left,
                              source.bottom - source.top, blend);
    sourceDC.SelectObject(previous);
    return drawn;
}

// ---------------------------------------------------------------------------------------------
// CGDIDrawStreamGUI

CGDIDrawStreamGUI::CGDIDrawStreamGUI() = default;

CGDIDrawStreamGUI::~CGDIDrawStreamGUI() = default;

void CGDIDrawStreamGUI::LoadLogo()
{
    // The picture is drawn by alpha blending where the draw entry is missing, so it is always loaded.
    if (m_Loaded)
        return;
    m_Loaded = TRUE;
    LoadPngResource(m_Unscaled);
    PremultiplyAlpha(m_Unscaled);
    m_Scale = 0.0f;
}

BOOL CGDIDrawStreamGUI::LoadPngResource(CImage& image)
{
    image.Destroy();
    HINSTANCE hModule = AfxGetResourceHandle();
    HRSRC hResource = ::FindResourceW(hModule, MAKEINTRESOURCEW(IDR_PNG_LOGO), L"PNG");
    if (hResource == nullptr)
        return FALSE;
    DWORD size = ::SizeofResource(hModule, hResource);
    HGLOBAL hLoaded = ::LoadResource(hModule, hResource);
    const void* pData = hLoaded != nullptr ? ::LockResource(hLoaded) : nullptr;
    if (size == 0 || pData == nullptr)
        return FALSE;
    HGLOBAL hCopy = ::GlobalAlloc(GMEM_MOVEABLE, size);
    if (hCopy == nullptr)
        return FALSE;
    BOOL loaded = FALSE;
    if (void* pCopy = ::GlobalLock(hCopy)) {
        std::memcpy(pCopy, pData, size);
        ::GlobalUnlock(hCopy);
        IStream* pStream = nullptr;
        if (SUCCEEDED(::CreateStreamOnHGlobal(hCopy, FALSE, &pStream)) && pStream != nullptr) {
            loaded = SUCCEEDED(image.Load(pStream));
            pStream->Release();
        }
    }
    ::GlobalFree(hCopy);
    return loaded;
}

void CGDIDrawStreamGUI::PremultiplyAlpha(CImage& image)
{
    if (image.IsNull() || image.GetBPP() != 32)
        return;
    PremultiplyAlpha(static_cast<BYTE*>(image.GetBits()), image.GetWidth(), image.GetHeight(),
                     image.GetPitch());
}

void CGDIDrawStreamGUI::PremultiplyAlpha(BYTE* pTopRow, int width, int height, int pitch)
{
    for (int y = 0; y < height; ++y) {
        BYTE* pixel = pTopRow + static_cast<INT_PTR>(y) * pitch;
        for (int x = 0; x < width; ++x, pixel += 4) {
            const unsigned alpha = pixel[3];
            for (int channel = 0; channel < 3; ++channel)
                pixel[channel] = static_cast<BYTE>(pixel[channel] * alpha / 255);
        }
    }
}

BOOL CGDIDrawStreamGUI::ScaleBitmapHighQuality(CImage& source, CImage& destination, float scale)
{
    destination.Destroy();
    const int width = static_cast<int>(static_cast<float>(source.GetWidth()) * scale);
    const int height = static_cast<int>(scale * static_cast<float>(source.GetHeight()));
    if (source.IsNull() || width <= 0 || height <= 0 || !AfxGdiplusStartup())
        return FALSE;
    Gdiplus::GpBitmap* pSource = nullptr;
    Gdiplus::GpBitmap* pScaled = nullptr;
    Gdiplus::GpGraphics* pGraphics = nullptr;
    BOOL done = FALSE;
    if (gp::GdipCreateBitmapFromScan0(source.GetWidth(), source.GetHeight(), source.GetPitch(),
                                      PixelFormat32bppPARGB, static_cast<BYTE*>(source.GetBits()),
                                      &pSource) == Gdiplus::Ok &&
        gp::GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &pScaled) ==
            Gdiplus::Ok &&
        gp::GdipGetImageGraphicsContext(pScaled, &pGraphics) == Gdiplus::Ok) {
        gp::GdipSetInterpolationMode(pGraphics, Gdiplus::InterpolationModeHighQualityBicubic);
        gp::GdipSetPixelOffsetMode(pGraphics, Gdiplus::PixelOffsetModeHighQuality);
        gp::GdipDrawImageRectI(pGraphics, pSource, 0, 0, width, height);
        gp::GdipDeleteGraphics(pGraphics);
        pGraphics = nullptr;
        Gdiplus::GpRect all(0, 0, width, height);
        Gdiplus::BitmapData data = {};
        if (gp::GdipBitmapLockBits(pScaled, &all, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &data) ==
            Gdiplus::Ok) {
            if (destination.Create(width, height, 32, CImage::createAlphaChannel)) {
                BYTE* pTopRow = static_cast<BYTE*>(destination.GetBits());
                for (int y = 0; y < height; ++y)
                    std::memcpy(pTopRow + static_cast<INT_PTR>(y) * destination.GetPitch(),
                                static_cast<const BYTE*>(data.Scan0) + static_cast<INT_PTR>(y) * data.Stride,
                                static_cast<size_t>(width) * 4);
                done = TRUE;
            }
            gp::GdipBitmapUnlockBits(pScaled, &data);
        }
    }
    if (pGraphics != nullptr)
        gp::GdipDeleteGraphics(pGraphics);
    if (pScaled != nullptr)
        gp::GdipDisposeImage(pScaled);
    if (pSource != nullptr)
        gp::GdipDisposeImage(pSource);
    return done;
}

void CGDIDrawStreamGUI::DrawScaledImage(CDC* pDC, const RECT& target)
{
    const int targetWidth = target.right - target.left;
    const int targetHeight = target.bottom - target.top;
    if (pDC == nullptr || m_Unscaled.IsNull() || m_Unscaled.GetWidth() <= 0 || m_Unscaled.GetHeight() <= 0 ||
        targetWidth <= 0 || targetHeight <= 0)
        return;
    // The smaller of the two scales: the whole picture fits the target. Rounded to a float in memory,
    // so that equal sizes compare equal (no excess precision).
    volatile float widthScale = static_cast<float>(targetWidth) / static_cast<float>(m_Unscaled.GetWidth());
    volatile float heightScale =
        static_cast<float>(targetHeight) / static_cast<float>(m_Unscaled.GetHeight());
    const float scale = widthScale < heightScale ? widthScale : heightScale;
    if (scale != m_Scale) {
        m_Scale = scale;
        ++m_RescaleCount;
        ScaleBitmapHighQuality(m_Unscaled, m_Scaled, scale);
    }
    if (m_Scaled.IsNull())
        return;
    const CRect source(0, 0, m_Scaled.GetWidth(), m_Scaled.GetHeight());
    const CRect destination(target.left, target.top, target.left + m_Scaled.GetWidth(),
                            target.top + m_Scaled.GetHeight());
    DrawNineGridStream(pDC, m_Scaled, destination, source, source);
}
