#pragma once

#include <windows.h>

#include <utility>

namespace platform::win32 {

// Owns one system handle and closes it exactly once. Traits give the handle type, the value that
// means "no handle" (not always null: CreateFile fails with INVALID_HANDLE_VALUE) and the function
// that closes it.
template <class Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Type owned) noexcept : value_(owned) {}

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());
    }
    return *this;
  }

  ~UniqueResource() { Reset(); }

  Type Get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

  // Gives up ownership without closing, for a handle the system has already destroyed.
  [[nodiscard]] Type Release() noexcept { return std::exchange(value_, Traits::Invalid()); }

  void Reset(Type owned = Traits::Invalid()) noexcept {
    const Type old = std::exchange(value_, owned);
    if (old != Traits::Invalid()) {
      Traits::Close(old);
    }
  }

 private:
  Type value_ = Traits::Invalid();
};

struct WindowTraits {
  using Type = HWND;
  static Type Invalid() noexcept { return nullptr; }
  // Only the creating thread can destroy a window; elsewhere this fails and the window lives on.
  static void Close(Type window) noexcept { DestroyWindow(window); }
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type handle) noexcept { CloseHandle(handle); }
};

struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type handle) noexcept { CloseHandle(handle); }
};

struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type module) noexcept { FreeLibrary(module); }
};

struct MenuTraits {
  using Type = HMENU;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type menu) noexcept { DestroyMenu(menu); }
};

using UniqueHwnd = UniqueResource<WindowTraits>;
// Threads, events, mutexes: the handles whose failure value is null.
using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueHmodule = UniqueResource<ModuleTraits>;
using UniqueHmenu = UniqueResource<MenuTraits>;

}  // namespace platform::win32
