// Wide-character strings of the class library layer.
//
// A string object is one pointer wide: it points at the characters of a buffer whose header
// (reference count, length, capacity) sits in front of them. Copies share the buffer and count
// the sharing atomically, so copies may be handed to other threads; the first write through a
// copy gives it a buffer of its own. A buffer handed out by GetBuffer belongs to its string alone
// until ReleaseBuffer: copies made meanwhile get their own characters.
//
// Running out of memory throws std::bad_alloc; a negative length, an index or length beyond the
// text or buffer throws CInvalidArgException.
#pragma once

#include "afx/afxplatform.h"

template <typename BaseType> class CSimpleStringT;
template <typename BaseType> struct StrTraitMFC;
template <typename BaseType, class StringTraits> class CStringT;

// The character traits of the layer's strings (UTF-16 characters).
template <> struct StrTraitMFC<wchar_t>
{
    typedef wchar_t XCHAR;
};

// The buffer-managing base: text, length, buffers and appending.
template <> class CSimpleStringT<wchar_t>
{
public:
    typedef wchar_t XCHAR;
    typedef wchar_t* PXSTR;
    typedef const wchar_t* PCXSTR;

    CSimpleStringT() noexcept;
    CSimpleStringT(const CSimpleStringT& source);
    CSimpleStringT(CSimpleStringT&& source) noexcept;
    CSimpleStringT(PCXSTR text);
    // Exactly `length` characters of `chars` (NUL characters included).
    CSimpleStringT(const XCHAR* chars, int length);
    ~CSimpleStringT();

    CSimpleStringT& operator=(const CSimpleStringT& source);
    CSimpleStringT& operator=(CSimpleStringT&& source) noexcept;
    // A null pointer gives the empty text; a pointer into this string's own text works.
    CSimpleStringT& operator=(PCXSTR text);
    CSimpleStringT& operator+=(const CSimpleStringT& text);
    CSimpleStringT& operator+=(PCXSTR text);
    CSimpleStringT& operator+=(XCHAR ch);

    int GetLength() const noexcept;
    bool IsEmpty() const noexcept { return GetLength() == 0; }
    void Empty() noexcept;
    PCXSTR GetString() const noexcept { return m_pszData; }
    operator PCXSTR() const noexcept { return m_pszData; }
    // Index 0 to GetLength(); the character at GetLength() is the terminating NUL.
    XCHAR GetAt(int index) const;
    XCHAR operator[](int index) const { return GetAt(index); }
    // Index 0 to GetLength() - 1.
    void SetAt(int index, XCHAR ch);

    void Append(PCXSTR text);
    // At most `length` characters of `text`, ending early at a NUL.
    void Append(PCXSTR text, int length);
    void Append(const CSimpleStringT& text);
    void AppendChar(XCHAR ch);
    void SetString(PCXSTR text);
    // Exactly `length` characters; `text` may point into this string's own text.
    void SetString(PCXSTR text, int length);
    void Truncate(int newLength);

    // Characters the buffer holds without growing (the terminating NUL not counted).
    int GetAllocLength() const noexcept;
    // Makes the buffer this string's own, with room for at least `length` characters plus a NUL,
    // and keeps the text.
    void Preallocate(int length);
    // The writable buffer, the string's own until ReleaseBuffer, with room for at least
    // `minBufferLength` characters plus a NUL; the text so far is kept in it.
    PXSTR GetBuffer();
    PXSTR GetBuffer(int minBufferLength);
    PXSTR GetBufferSetLength(int length);
    // Ends writing into the buffer. The new length is `newLength`, or with -1 the number of
    // characters before the first NUL within the buffer (the whole buffer when it holds none).
    void ReleaseBuffer(int newLength = -1);
    void ReleaseBufferSetLength(int newLength);

    // Characters before the NUL; 0 for a null pointer.
    static int StringLength(PCXSTR text) noexcept;

private:
    bool IsExclusive() const noexcept;
    PXSTR PrepareWrite(int minCapacity);
    void Attach(PXSTR data) noexcept;

    PXSTR m_pszData;
};

// The string with searching, cutting, trimming and case operations.
template <> class CStringT<wchar_t, StrTraitMFC<wchar_t>> : public CSimpleStringT<wchar_t>
{
public:
    CStringT() noexcept = default;
    CStringT(const CStringT& source) = default;
    CStringT(CStringT&& source) noexcept = default;
    CStringT(const CSimpleStringT<wchar_t>& source) : CSimpleStringT<wchar_t>(source) {}
    CStringT(PCXSTR text) : CSimpleStringT<wchar_t>(text) {}
    CStringT(const XCHAR* chars, int length) : CSimpleStringT<wchar_t>(chars, length) {}
    ~CStringT() = default;

    CStringT& operator=(const CStringT& source) = default;
    CStringT& operator=(CStringT&& source) noexcept = default;
    CStringT& operator=(const CSimpleStringT<wchar_t>& source);
    CStringT& operator=(PCXSTR text);
    CStringT& operator+=(const CSimpleStringT<wchar_t>& text);
    CStringT& operator+=(PCXSTR text);
    CStringT& operator+=(XCHAR ch);

    // Ordinal comparison: negative, 0 or positive.
    int Compare(PCXSTR text) const noexcept;

    // Index of the first occurrence at or after `start` (a negative start counts as 0), or -1.
    int Find(XCHAR ch, int start = 0) const noexcept;
    int Find(PCXSTR text, int start = 0) const noexcept;
    // Index of the last occurrence, or -1.
    int ReverseFind(XCHAR ch) const noexcept;

    // Cuts; counts and positions outside the text are clamped to it.
    CStringT Left(int count) const;
    CStringT Mid(int first) const;
    CStringT Mid(int first, int count) const;
    CStringT Right(int count) const;

    // Cuts the text into tokens separated by runs of any of the `delimiters`: starting at
    // `start`, skips delimiters and returns the run of other characters that follows, with
    // `start` moved past it. When no token is left it returns the empty text and sets `start` to
    // -1. Without delimiters the rest of the text is the token.
    CStringT Tokenize(PCXSTR delimiters, int& start) const;

    // Without arguments white space is removed; otherwise the given character or characters.
    CStringT& Trim();
    CStringT& Trim(XCHAR target);
    CStringT& Trim(PCXSTR targets);
    CStringT& TrimLeft();
    CStringT& TrimLeft(XCHAR target);
    CStringT& TrimLeft(PCXSTR targets);
    CStringT& TrimRight();
    CStringT& TrimRight(XCHAR target);
    CStringT& TrimRight(PCXSTR targets);

    // ASCII letters only; other characters stay as they are.
    CStringT& MakeUpper();
    CStringT& MakeLower();

    // The string resource `nID` of the program (defined with the window classes, afxapp.cpp); FALSE
    // and the empty text when there is none.
    BOOL LoadString(UINT nID);

private:
    template <typename Match> CStringT& TrimWhere(bool left, bool right, Match match);
};

typedef CStringT<wchar_t, StrTraitMFC<wchar_t>> CStringW;
typedef CStringW CString;

CStringW operator+(const CStringW& left, const CStringW& right);
CStringW operator+(const CStringW& left, const wchar_t* right);
CStringW operator+(const wchar_t* left, const CStringW& right);
CStringW operator+(const CStringW& left, wchar_t right);
CStringW operator+(wchar_t left, const CStringW& right);

bool operator==(const CStringW& left, const CStringW& right) noexcept;
bool operator==(const CStringW& left, const wchar_t* right) noexcept;
bool operator==(const wchar_t* left, const CStringW& right) noexcept;
bool operator!=(const CStringW& left, const CStringW& right) noexcept;
bool operator!=(const CStringW& left, const wchar_t* right) noexcept;
bool operator!=(const wchar_t* left, const CStringW& right) noexcept;
bool operator<(const CStringW& left, const CStringW& right) noexcept;
