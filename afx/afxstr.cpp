#include "afx/afxstr.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <new>

namespace {

// Header in front of the characters of every buffer.
struct StringHeader
{
    // Number of strings sharing the buffer; -1 while GetBuffer has handed it out.
    std::atomic<long> refs;
    int length;
    // Characters that fit, the terminating NUL not counted.
    int capacity;
};

constexpr long kLocked = -1;

// The empty text that every empty string shares; its header is never changed.
alignas(StringHeader) unsigned char g_emptyBuffer[sizeof(StringHeader) + sizeof(wchar_t)];

wchar_t* EmptyData() noexcept
{
    return reinterpret_cast<wchar_t*>(g_emptyBuffer + sizeof(StringHeader));
}

StringHeader* HeaderOf(const wchar_t* data) noexcept
{
    return reinterpret_cast<StringHeader*>(const_cast<wchar_t*>(data)) - 1;
}

wchar_t* DataOf(StringHeader* header) noexcept
{
    return reinterpret_cast<wchar_t*>(header + 1);
}

[[noreturn]] void ThrowInvalidArg()
{
    throw CInvalidArgException();
}

// A new, unshared buffer with room for `capacity` characters, holding the empty text.
wchar_t* Allocate(int capacity)
{
    if (capacity < 0) {
        ThrowInvalidArg();
    }
    const size_t maxCapacity = (INT_MAX - sizeof(StringHeader)) / sizeof(wchar_t) - 1;
    if (static_cast<size_t>(capacity) > maxCapacity) {
        throw std::bad_alloc();
    }
    void* memory = std::malloc(sizeof(StringHeader) + (static_cast<size_t>(capacity) + 1) * sizeof(wchar_t));
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    StringHeader* header = new (memory) StringHeader;
    header->refs.store(1, std::memory_order_relaxed);
    header->length = 0;
    header->capacity = capacity;
    wchar_t* data = DataOf(header);
    data[0] = L'\0';
    return data;
}

void Release(wchar_t* data) noexcept
{
    if (data == EmptyData()) {
        return;
    }
    StringHeader* header = HeaderOf(data);
    long refs = header->refs.load(std::memory_order_relaxed);
    if (refs == kLocked || header->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        header->~StringHeader();
        std::free(header);
    }
}

// A buffer of `length` characters copied from `chars`, with room for `capacity`.
wchar_t* CopyOf(const wchar_t* chars, int length, int capacity)
{
    wchar_t* data = Allocate(capacity);
    wmemcpy(data, chars, length);
    data[length] = L'\0';
    HeaderOf(data)->length = length;
    return data;
}

// The buffer that a new copy of `data` uses: the same one, shared, unless it is handed out.
wchar_t* Share(wchar_t* data)
{
    if (data == EmptyData()) {
        return data;
    }
    StringHeader* header = HeaderOf(data);
    if (header->refs.load(std::memory_order_relaxed) == kLocked) {
        return header->length == 0 ? EmptyData() : CopyOf(data, header->length, header->length);
    }
    header->refs.fetch_add(1, std::memory_order_relaxed);
    return data;
}

int CheckedSum(int a, int b)
{
    if (a > INT_MAX - b) {
        throw std::bad_alloc();
    }
    return a + b;
}

// Capacity for a text growing by appending: at least half as much again as before.
int GrownCapacity(int current, int needed)
{
    int grown = current <= INT_MAX / 3 * 2 ? current + current / 2 : INT_MAX;
    return grown > needed ? grown : needed;
}

} // namespace

using CSimpleStringW = CSimpleStringT<wchar_t>;

CSimpleStringW::CSimpleStringT() noexcept : m_pszData(EmptyData()) {}

CSimpleStringW::CSimpleStringT(const CSimpleStringT& source) : m_pszData(Share(source.m_pszData)) {}

CSimpleStringW::CSimpleStringT(CSimpleStringT&& source) noexcept : m_pszData(source.m_pszData)
{
    source.m_pszData = EmptyData();
}

CSimpleStringW::CSimpleStringT(PCXSTR text) : m_pszData(EmptyData())
{
    SetString(text);
}

CSimpleStringW::CSimpleStringT(const XCHAR* chars, int length) : m_pszData(EmptyData())
{
    SetString(chars, length);
}

CSimpleStringW::~CSimpleStringT()
{
    Release(m_pszData);
}

CSimpleStringW& CSimpleStringW::operator=(const CSimpleStringT& source)
{
    if (source.m_pszData != m_pszData) {
        Attach(Share(source.m_pszData));
    }
    return *this;
}

CSimpleStringW& CSimpleStringW::operator=(CSimpleStringT&& source) noexcept
{
    if (&source != this) {
        Attach(source.m_pszData);
        source.m_pszData = EmptyData();
    }
    return *this;
}

CSimpleStringW& CSimpleStringW::operator=(PCXSTR text)
{
    SetString(text);
    return *this;
}

CSimpleStringW& CSimpleStringW::operator+=(const CSimpleStringT& text)
{
    Append(text);
    return *this;
}

CSimpleStringW& CSimpleStringW::operator+=(PCXSTR text)
{
    Append(text);
    return *this;
}

CSimpleStringW& CSimpleStringW::operator+=(XCHAR ch)
{
    AppendChar(ch);
    return *this;
}

int CSimpleStringW::GetLength() const noexcept
{
    return HeaderOf(m_pszData)->length;
}

void CSimpleStringW::Empty() noexcept
{
    Attach(EmptyData());
}

CSimpleStringW::XCHAR CSimpleStringW::GetAt(int index) const
{
    if (index < 0 || index > GetLength()) {
        ThrowInvalidArg();
    }
    return m_pszData[index];
}

void CSimpleStringW::SetAt(int index, XCHAR ch)
{
    if (index < 0 || index >= GetLength()) {
        ThrowInvalidArg();
    }
    PrepareWrite(GetLength())[index] = ch;
}

void CSimpleStringW::Append(PCXSTR text)
{
    Append(text, StringLength(text));
}

void CSimpleStringW::Append(PCXSTR text, int length)
{
    if (length < 0) {
        ThrowInvalidArg();
    }
    if (text == nullptr || length == 0) {
        return;
    }
    int count = static_cast<int>(wcsnlen(text, static_cast<size_t>(length)));
    int oldLength = GetLength();
    int newLength = CheckedSum(oldLength, count);
    if (IsExclusive() && HeaderOf(m_pszData)->capacity >= newLength) {
        // The appended text may lie in this buffer's own text: it ends before the place it goes to.
        wmemmove(m_pszData + oldLength, text, count);
    } else {
        // Copy into a new buffer while the old one (perhaps the source) is still alive.
        wchar_t* data = CopyOf(m_pszData, oldLength, GrownCapacity(HeaderOf(m_pszData)->capacity, newLength));
        wmemcpy(data + oldLength, text, count);
        Attach(data);
    }
    m_pszData[newLength] = L'\0';
    HeaderOf(m_pszData)->length = newLength;
}

void CSimpleStringW::Append(const CSimpleStringT& text)
{
    Append(text.m_pszData, text.GetLength());
}

void CSimpleStringW::AppendChar(XCHAR ch)
{
    int oldLength = GetLength();
    int newLength = CheckedSum(oldLength, 1);
    if (!IsExclusive() || HeaderOf(m_pszData)->capacity < newLength) {
        Attach(CopyOf(m_pszData, oldLength, GrownCapacity(HeaderOf(m_pszData)->capacity, newLength)));
    }
    m_pszData[oldLength] = ch;
    m_pszData[newLength] = L'\0';
    HeaderOf(m_pszData)->length = newLength;
}

void CSimpleStringW::SetString(PCXSTR text)
{
    SetString(text, StringLength(text));
}

void CSimpleStringW::SetString(PCXSTR text, int length)
{
    if (length < 0 || (text == nullptr && length > 0)) {
        ThrowInvalidArg();
    }
    if (length == 0) {
        Empty();
        return;
    }
    if (IsExclusive() && HeaderOf(m_pszData)->capacity >= length) {
        // Also right when `text` points into this very buffer.
        wmemmove(m_pszData, text, length);
        m_pszData[length] = L'\0';
        HeaderOf(m_pszData)->length = length;
    } else {
        Attach(CopyOf(text, length, length));
    }
}

void CSimpleStringW::Truncate(int newLength)
{
    if (newLength < 0 || newLength > GetLength()) {
        ThrowInvalidArg();
    }
    if (newLength == 0) {
        Empty();
        return;
    }
    if (newLength < GetLength()) {
        PrepareWrite(newLength)[newLength] = L'\0';
        HeaderOf(m_pszData)->length = newLength;
    }
}

int CSimpleStringW::GetAllocLength() const noexcept
{
    return HeaderOf(m_pszData)->capacity;
}

void CSimpleStringW::Preallocate(int length)
{
    if (length < 0) {
        ThrowInvalidArg();
    }
    PrepareWrite(length);
}

CSimpleStringW::PXSTR CSimpleStringW::GetBuffer()
{
    return GetBuffer(0);
}

CSimpleStringW::PXSTR CSimpleStringW::GetBuffer(int minBufferLength)
{
    if (minBufferLength < 0) {
        ThrowInvalidArg();
    }
    // Even an empty text gets a buffer of its own, so that there is somewhere to write.
    if (m_pszData == EmptyData()) {
        Attach(Allocate(minBufferLength));
    }
    PXSTR data = PrepareWrite(minBufferLength);
    HeaderOf(data)->refs.store(kLocked, std::memory_order_relaxed);
    return data;
}

CSimpleStringW::PXSTR CSimpleStringW::GetBufferSetLength(int length)
{
    PXSTR data = GetBuffer(length);
    data[length] = L'\0';
    HeaderOf(data)->length = length;
    return data;
}

void CSimpleStringW::ReleaseBuffer(int newLength)
{
    if (m_pszData == EmptyData()) {
        if (newLength > 0 || newLength < -1) {
            ThrowInvalidArg();
        }
        return;
    }
    StringHeader* header = HeaderOf(m_pszData);
    if (newLength < -1 || newLength > header->capacity) {
        ThrowInvalidArg();
    }
    // A string that did not hand out its buffer may still share it: write into its own.
    PXSTR data = PrepareWrite(header->capacity);
    header = HeaderOf(data);
    if (newLength == -1) {
        newLength = static_cast<int>(wcsnlen(data, static_cast<size_t>(header->capacity)));
    }
    data[newLength] = L'\0';
    header->length = newLength;
    header->refs.store(1, std::memory_order_relaxed);
}

void CSimpleStringW::ReleaseBufferSetLength(int newLength)
{
    if (newLength < 0) {
        ThrowInvalidArg();
    }
    ReleaseBuffer(newLength);
}

int CSimpleStringW::StringLength(PCXSTR text) noexcept
{
    return text == nullptr ? 0 : static_cast<int>(wcslen(text));
}

bool CSimpleStringW::IsExclusive() const noexcept
{
    if (m_pszData == EmptyData()) {
        return false;
    }
    long refs = HeaderOf(m_pszData)->refs.load(std::memory_order_acquire);
    return refs == 1 || refs == kLocked;
}

// Makes the buffer this string's own, with room for `minCapacity` characters, keeping the text.
CSimpleStringW::PXSTR CSimpleStringW::PrepareWrite(int minCapacity)
{
    StringHeader* header = HeaderOf(m_pszData);
    if (IsExclusive() && header->capacity >= minCapacity) {
        return m_pszData;
    }
    int length = header->length;
    int capacity = minCapacity > length ? minCapacity : length;
    wchar_t* data;
    if (header->refs.load(std::memory_order_relaxed) == kLocked) {
        // A handed-out buffer may hold characters beyond the length: keep all of them, and keep it
        // handed out in its larger successor.
        data = Allocate(capacity);
        wmemcpy(data, m_pszData, static_cast<size_t>(header->capacity) + 1);
        HeaderOf(data)->length = length;
        HeaderOf(data)->refs.store(kLocked, std::memory_order_relaxed);
    } else {
        data = CopyOf(m_pszData, length, capacity);
    }
    Attach(data);
    return m_pszData;
}

// Takes `data` in place of the current buffer, whose share is released.
void CSimpleStringW::Attach(PXSTR data) noexcept
{
    PXSTR old = m_pszData;
    m_pszData = data;
    Release(old);
}

// ---------------------------------------------------------------------------------------------

CStringW& CStringW::operator=(const CSimpleStringT<wchar_t>& source)
{
    CSimpleStringT<wchar_t>::operator=(source);
    return *this;
}

CStringW& CStringW::operator=(PCXSTR text)
{
    CSimpleStringT<wchar_t>::operator=(text);
    return *this;
}

CStringW& CStringW::operator+=(const CSimpleStringT<wchar_t>& text)
{
    Append(text);
    return *this;
}

CStringW& CStringW::operator+=(PCXSTR text)
{
    Append(text);
    return *this;
}

CStringW& CStringW::operator+=(XCHAR ch)
{
    AppendChar(ch);
    return *this;
}

int CStringW::Compare(PCXSTR text) const noexcept
{
    return wcscmp(GetString(), text == nullptr ? L"" : text);
}

int CStringW::Find(XCHAR ch, int start) const noexcept
{
    int length = GetLength();
    if (start < 0) {
        start = 0;
    }
    PCXSTR text = GetString();
    for (int i = start; i < length; ++i) {
        if (text[i] == ch) {
            return i;
        }
    }
    return -1;
}

int CStringW::Find(PCXSTR text, int start) const noexcept
{
    if (text == nullptr) {
        return -1;
    }
    if (start < 0) {
        start = 0;
    }
    if (start > GetLength()) {
        return -1;
    }
    if (*text == L'\0') {
        return start;
    }
    PCXSTR found = wcsstr(GetString() + start, text);
    return found == nullptr ? -1 : static_cast<int>(found - GetString());
}

int CStringW::ReverseFind(XCHAR ch) const noexcept
{
    PCXSTR text = GetString();
    for (int i = GetLength() - 1; i >= 0; --i) {
        if (text[i] == ch) {
            return i;
        }
    }
    return -1;
}

CStringW CStringW::Left(int count) const
{
    return Mid(0, count);
}

CStringW CStringW::Mid(int first) const
{
    return Mid(first, GetLength());
}

CStringW CStringW::Mid(int first, int count) const
{
    int length = GetLength();
    if (first < 0) {
        first = 0;
    }
    if (first > length) {
        first = length;
    }
    if (count < 0) {
        count = 0;
    }
    if (count > length - first) {
        count = length - first;
    }
    if (first == 0 && count == length) {
        return *this;
    }
    return CStringT(GetString() + first, count);
}

CStringW CStringW::Right(int count) const
{
    int length = GetLength();
    if (count < 0) {
        count = 0;
    }
    if (count > length) {
        count = length;
    }
    return Mid(length - count, count);
}

CStringW CStringW::Tokenize(PCXSTR delimiters, int& start) const
{
    int length = GetLength();
    if (start >= 0 && start < length) {
        PCXSTR text = GetString();
        if (delimiters == nullptr || *delimiters == L'\0') {
            CStringT token(text + start, length - start);
            start = length;
            return token;
        }
        int first = start + static_cast<int>(wcsspn(text + start, delimiters));
        if (first < length) {
            int count = static_cast<int>(wcscspn(text + first, delimiters));
            // Past the token and the delimiter that ended it.
            start = first + count + 1;
            return CStringT(text + first, count);
        }
    }
    start = -1;
    return CStringT();
}

template <typename Match> CStringW& CStringW::TrimWhere(bool left, bool right, Match match)
{
    PCXSTR text = GetString();
    int first = 0;
    int end = GetLength();
    while (left && first < end && match(text[first])) {
        ++first;
    }
    while (right && end > first && match(text[end - 1])) {
        --end;
    }
    if (first != 0 || end != GetLength()) {
        SetString(text + first, end - first);
    }
    return *this;
}

namespace {

bool IsSpace(wchar_t ch)
{
    return iswspace(ch) != 0;
}

// Matches the characters of a set; a null or empty set matches nothing.
struct InSet
{
    const wchar_t* set;
    bool operator()(wchar_t ch) const { return set != nullptr && ch != L'\0' && wcschr(set, ch) != nullptr; }
};

} // namespace

CStringW& CStringW::Trim()
{
    return TrimWhere(true, true, IsSpace);
}

CStringW& CStringW::Trim(XCHAR target)
{
    return TrimWhere(true, true, [target](wchar_t ch) { return ch == target; });
}

CStringW& CStringW::Trim(PCXSTR targets)
{
    return TrimWhere(true, true, InSet{targets});
}

CStringW& CStringW::TrimLeft()
{
    return TrimWhere(true, false, IsSpace);
}

CStringW& CStringW::TrimLeft(XCHAR target)
{
    return TrimWhere(true, false, [target](wchar_t ch) { return ch == target; });
}

CStringW& CStringW::TrimLeft(PCXSTR targets)
{
    return TrimWhere(true, false, InSet{targets});
}

CStringW& CStringW::TrimRight()
{
    return TrimWhere(false, true, IsSpace);
}

CStringW& CStringW::TrimRight(XCHAR target)
{
    return TrimWhere(false, true, [target](wchar_t ch) { return ch == target; });
}

CStringW& CStringW::TrimRight(PCXSTR targets)
{
    return TrimWhere(false, true, InSet{targets});
}

CStringW& CStringW::MakeUpper()
{
    int length = GetLength();
    for (int i = 0; i < length; ++i) {
        wchar_t ch = GetString()[i];
        if (ch >= L'a' && ch <= L'z') {
            SetAt(i, static_cast<wchar_t>(ch - L'a' + L'A'));
        }
    }
    return *this;
}

CStringW& CStringW::MakeLower()
{
    int length = GetLength();
    for (int i = 0; i < length; ++i) {
        wchar_t ch = GetString()[i];
        if (ch >= L'A' && ch <= L'Z') {
            SetAt(i, static_cast<wchar_t>(ch - L'A' + L'a'));
        }
    }
    return *this;
}

// ---------------------------------------------------------------------------------------------

CStringW operator+(const CStringW& left, const CStringW& right)
{
    CStringW result(left);
    result.Append(right);
    return result;
}

CStringW operator+(const CStringW& left, const wchar_t* right)
{
    CStringW result(left);
    result.Append(right);
    return result;
}

CStringW operator+(const wchar_t* left, const CStringW& right)
{
    CStringW result(left);
    result.Append(right);
    return result;
}

CStringW operator+(const CStringW& left, wchar_t right)
{
    CStringW result(left);
    result.AppendChar(right);
    return result;
}

CStringW operator+(wchar_t left, const CStringW& right)
{
    CStringW result(&left, 1);
    result.Append(right);
    return result;
}

bool operator==(const CStringW& left, const CStringW& right) noexcept
{
    return left.GetString() == right.GetString() || left.Compare(right.GetString()) == 0;
}

bool operator==(const CStringW& left, const wchar_t* right) noexcept
{
    return left.Compare(right) == 0;
}

bool operator==(const wchar_t* left, const CStringW& right) noexcept
{
    return right.Compare(left) == 0;
}

bool operator!=(const CStringW& left, const CStringW& right) noexcept
{
    return !(left == right);
}

bool operator!=(const CStringW& left, const wchar_t* right) noexcept
{
    return !(left == right);
}

bool operator!=(const wchar_t* left, const CStringW& right) noexcept
{
    return !(left == right);
}

bool operator<(const CStringW& left, const CStringW& right) noexcept
{
    return left.Compare(right.GetString()) < 0;
}
