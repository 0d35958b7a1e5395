// Internals of the window half of the class library layer, shared by its sources.
#pragma once

#include "afx/afxwin.h"

#include <typeinfo>

// Temporary wrapper objects. FromHandle gives callers an object for a handle that no object owns:
// a wrapper that holds the handle and nothing else, one per handle and wrapper class, shared by
// every caller. Wrappers are never deleted while their handle is alive; when the table grows,
// wrappers whose handle died are untied from it and deleted.
namespace afx_temp {

// Sets (or, with null, clears) the handle that a wrapper holds.
typedef void (*TieFunction)(CObject* wrapper, void* handle);
// Whether the handle still names a live object; null: always.
typedef bool (*AliveFunction)(void* handle);
typedef CObject* (*CreateFunction)();

CObject* Lookup(void* handle, const std::type_info& type, CreateFunction create, TieFunction tie,
                AliveFunction alive);

// Wrappers of window handles: TieWindow sets CWnd::m_hWnd, WindowAlive asks IsWindow.
void TieWindow(CObject* wrapper, void* handle);
bool WindowAlive(void* handle);

} // namespace afx_temp

// The wrapper of class T (of the family whose handle `tie` sets) for the handle; null for null.
template <class T> T* AfxTempObject(void* handle, afx_temp::TieFunction tie, afx_temp::AliveFunction alive)
{
    if (handle == nullptr)
        return nullptr;
    return static_cast<T*>(afx_temp::Lookup(
        handle, typeid(T), []() -> CObject* { return new T; }, tie, alive));
}

// The object of class T that owns the window, else a temporary wrapper of class T.
template <class T> T* AfxWindowObject(HWND hWnd)
{
    if (T* pOwner = dynamic_cast<T*>(CWnd::FromHandlePermanent(hWnd)))
        return pOwner;
    return AfxTempObject<T>(hWnd, afx_temp::TieWindow, afx_temp::WindowAlive);
}

// The next window created on this thread belongs to pWnd: the layer ties the window to it and routes
// its messages through the object before the window's first message. Calls nest; each is ended by
// AfxUnhookWindowCreate.
void AfxHookWindowCreate(CWnd* pWnd);
void AfxUnhookWindowCreate();
