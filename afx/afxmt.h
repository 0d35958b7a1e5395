// Locks and events of the class library layer.
#pragma once

#include "afx/afxplatform.h"

// Something a thread can wait for and hold.
class CSyncObject : public CObject
{
public:
    ~CSyncObject() override;

    // TRUE when the object was obtained within `timeout` milliseconds.
    virtual BOOL Lock(DWORD timeout = INFINITE);
    virtual BOOL Unlock() = 0;
    operator HANDLE() const { return m_hObject; }

    // The kernel object, when there is one.
    HANDLE m_hObject = nullptr;

protected:
    CSyncObject() = default;
};

// A recursive lock: the thread that holds it may take it again; each Lock needs its Unlock.
class CCriticalSection : public CSyncObject
{
public:
    CCriticalSection();
    ~CCriticalSection() override;

    BOOL Lock();
    // The time-out is not supported by critical sections: this waits for as long as it takes.
    BOOL Lock(DWORD timeout) override;
    BOOL Unlock() override;
    operator CRITICAL_SECTION*() { return &m_sect; }

    CRITICAL_SECTION m_sect;
};

// A Win32 event: auto-reset (one waiting thread is released and the event clears again) or
// manual-reset (it stays set until ResetEvent). Without kernel resources for it, construction
// throws std::bad_alloc.
class CEvent : public CSyncObject
{
public:
    explicit CEvent(BOOL initiallyOwn = FALSE, BOOL manualReset = FALSE, LPCWSTR name = nullptr,
                    LPSECURITY_ATTRIBUTES attributes = nullptr);

    BOOL SetEvent();
    BOOL ResetEvent();
    BOOL PulseEvent();
    BOOL Unlock() override { return TRUE; }
};

// Holds a lock for one scope: the destructor releases it when it is still held.
class CSingleLock
{
public:
    explicit CSingleLock(CSyncObject* object, BOOL initialLock = FALSE);
    ~CSingleLock();
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

    BOOL Lock(DWORD timeout = INFINITE);
    BOOL Unlock();
    BOOL IsLocked() const { return m_bAcquired; }

private:
    CSyncObject* m_pObject;
    BOOL m_bAcquired = FALSE;
};
