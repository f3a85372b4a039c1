// Non-copyable owners of platform handles.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <utility>

template <typename Handle, typename Traits>
class UniqueOwner {
 public:
  UniqueOwner() = default;
  explicit UniqueOwner(Handle h) : h_(h) {}
  ~UniqueOwner() { reset(); }
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;
  UniqueOwner(UniqueOwner&& other) noexcept : h_(other.release()) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    reset(other.release());
    return *this;
  }

  Handle get() const { return h_; }
  const Handle* addr() const { return &h_; }
  Handle* out() {  // for functions that return the handle through a pointer
    reset();
    return &h_;
  }
  explicit operator bool() const { return Traits::Valid(h_); }
  Handle release() { return std::exchange(h_, Traits::Invalid()); }
  void reset(Handle h = Traits::Invalid()) {
    if (Traits::Valid(h_)) Traits::Close(h_);
    h_ = h;
  }

 private:
  Handle h_ = Traits::Invalid();
};

struct FileTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct FindTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HANDLE h) { FindClose(h); }
};
struct KeyTraits {
  static HKEY Invalid() { return nullptr; }
  static bool Valid(HKEY h) { return h != nullptr; }
  static void Close(HKEY h) { RegCloseKey(h); }
};
struct WindowTraits {
  static HWND Invalid() { return nullptr; }
  static bool Valid(HWND h) { return h != nullptr; }
  static void Close(HWND h) { DestroyWindow(h); }
};
struct GdiTraits {
  static HGDIOBJ Invalid() { return nullptr; }
  static bool Valid(HGDIOBJ h) { return h != nullptr; }
  static void Close(HGDIOBJ h) { DeleteObject(h); }
};
struct IconTraits {
  static HICON Invalid() { return nullptr; }
  static bool Valid(HICON h) { return h != nullptr; }
  static void Close(HICON h) { DestroyIcon(h); }
};
struct ImageListTraits {
  static HIMAGELIST Invalid() { return nullptr; }
  static bool Valid(HIMAGELIST h) { return h != nullptr; }
  static void Close(HIMAGELIST h) { ImageList_Destroy(h); }
};
struct LocalTraits {
  static char* Invalid() { return nullptr; }
  static bool Valid(char* h) { return h != nullptr; }
  static void Close(char* h) { LocalFree(h); }
};

using FileHandle = UniqueOwner<HANDLE, FileTraits>;               // CreateFile, processes, threads
using FindHandle = UniqueOwner<HANDLE, FindTraits>;               // FindFirstFile
using RegKey = UniqueOwner<HKEY, KeyTraits>;                      // RegOpenKeyEx
using OwnedWindow = UniqueOwner<HWND, WindowTraits>;              // CreateWindow, CreateDialog
using GdiObject = UniqueOwner<HGDIOBJ, GdiTraits>;                // bitmaps, fonts
using LocalText = UniqueOwner<char*, LocalTraits>;                // FormatMessage buffers
using OwnedIcon = UniqueOwner<HICON, IconTraits>;                 // LoadImage of an icon
using OwnedImageList = UniqueOwner<HIMAGELIST, ImageListTraits>;  // ImageList_Create
