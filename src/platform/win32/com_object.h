#pragma once

#include <windows.h>
#include <unknwn.h>

namespace platform::win32 {

// The IUnknown half of a COM object written by hand: one reference count, starting at 1 for the
// creator (who hands it to a ComPtr), and a QueryInterface that asks the object only which
// interface pointer answers an id. `Derived` lists its interfaces as the further bases and
// provides `void* FindInterface(REFIID) noexcept`, returning nullptr for an id it does not answer.
// The count is interlocked because MSXML and the browser control may call from their own threads.
template <class Derived, class... Interfaces>
class ComObject : public Interfaces... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr) {
      return E_POINTER;
    }
    *object = static_cast<Derived*>(this)->FindInterface(iid);
    if (*object == nullptr) {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
  }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
      delete static_cast<Derived*>(this);
    }
    return static_cast<ULONG>(left);
  }

 protected:
  ComObject() noexcept = default;
  // Only Release destroys: the destructor is reached through Derived, never through this base.
  ~ComObject() = default;

 private:
  LONG references_ = 1;
};

}  // namespace platform::win32
