// Drawing of the logo picture: rescaled smoothly to the room it gets and drawn with its per-pixel
// transparency.
//
// CGDIDrawStream draws a bitmap through the GDI entry point "GdiDrawStream" (a nine-grid command),
// and with AlphaBlend where that entry point is missing or refuses the command.
// CGDIDrawStreamGUI holds the logo (PNG resource 134) with its alpha premultiplied and a copy
// rescaled to the current width, made again only when the width changes.
#pragma once

#include "afx/afximage.h"
#include "afx/afxwin.h"

// The command record that GdiDrawStream takes: 96 bytes of 32-bit little-endian fields.
struct DrawStreamCommand
{
    static const size_t kSize = 96;
    static const DWORD kMagic = 0x44727753;
    static const DWORD kNineGrid = 9;
    static const DWORD kPerPixelAlpha = 4;
    BYTE bytes[kSize];

    // Fills the nine-grid command; the margins are the distances of the inner rectangle from the
    // source rectangle's edges.
    void Fill(HDC hDestDC, const RECT& destination, HBITMAP hSource, const RECT& source, const RECT& inner);
    DWORD Field(size_t offset) const;
};

class CGDIDrawStream : public CObject
{
public:
    typedef BOOL(WINAPI* PFN_GDIDRAWSTREAM)(HDC hDC, ULONG cbCommand, void* pvCommand);

    CGDIDrawStream();
    ~CGDIDrawStream() override;

    // Loads "GDI32.dll" and looks up "GdiDrawStream".
    void Init();
    bool HasDrawEntry() const { return m_pfnDrawStream != nullptr; }
    // Replaces the draw entry (tests; null: none).
    void SetDrawEntry(PFN_GDIDRAWSTREAM pfnDrawStream) { m_pfnDrawStream = pfnDrawStream; }

    // Draws the source rectangle of the premultiplied 32-bit bitmap into the destination rectangle
    // (inner: the stretchable centre). Without the draw entry, or when it fails, the bitmap is
    // alpha-blended instead. FALSE when nothing could be drawn.
    BOOL DrawNineGridStream(CDC* pDC, HBITMAP hSource, const RECT& destination, const RECT& source,
                            const RECT& inner);

    BOOL m_Loaded = FALSE;

protected:
    HMODULE m_hGdi32 = nullptr;
    PFN_GDIDRAWSTREAM m_pfnDrawStream = nullptr;
};

class CGDIDrawStreamGUI : public CGDIDrawStream
{
public:
    CGDIDrawStreamGUI();
    ~CGDIDrawStreamGUI() override;

    // Loads the logo once: PNG resource 134, alpha premultiplied, no scaled copy yet.
    void LoadLogo();
    // Reads PNG resource 134 of the program's module into the image; an empty image when the
    // resource is missing or unreadable.
    static BOOL LoadPngResource(CImage& image);
    // Blue, green and red of every pixel := channel * alpha / 255 (truncated); alpha unchanged.
    static void PremultiplyAlpha(CImage& image);
    static void PremultiplyAlpha(BYTE* pTopRow, int width, int height, int pitch);
    // Replaces the destination with the source rescaled by the factor (high-quality bicubic).
    // FALSE (and an empty destination) when the new size is empty.
    static BOOL ScaleBitmapHighQuality(CImage& source, CImage& destination, float scale);

    // Draws the logo at the target's top-left corner, as wide as the target; nothing when there is
    // no picture or the target has no width.
    void DrawScaledImage(CDC* pDC, const RECT& target);

    float GetScale() const { return m_Scale; }
    const CImage& GetUnscaled() const { return m_Unscaled; }
    const CImage& GetScaled() const { return m_Scaled; }
    // How many times the scaled copy has been made (tests).
    int GetRescaleCount() const { return m_RescaleCount; }

private:
    CImage m_Unscaled;
    float m_Scale = 0.0f;
    CImage m_Scaled;
    int m_RescaleCount = 0;
};
