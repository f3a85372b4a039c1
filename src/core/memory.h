// Process-heap memory and the growable text buffer.
#pragma once

#include <cstddef>
#include <cstdint>

void* MemAlloc(size_t size);
void* MemRealloc(void* block, size_t size);  // on failure the old block stays valid
void MemFree(void* block);

// Owner of one heap block from MemAlloc.
class HeapBlock {
 public:
  HeapBlock() = default;
  explicit HeapBlock(void* p) : p_(p) {}
  ~HeapBlock() { MemFree(p_); }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;
  char* get() const { return static_cast<char*>(p_); }
  explicit operator bool() const { return p_ != nullptr; }
  void reset(void* p = nullptr) {
    MemFree(p_);
    p_ = p;
  }
  void* release() {
    void* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  void* p_ = nullptr;
};

// A growable array of plain items on the process heap. Push returns false,
// with the items as they were, when memory runs out.
template <typename T>
class HeapList {
 public:
  HeapList() = default;
  ~HeapList() { MemFree(items_); }
  HeapList(const HeapList&) = delete;
  HeapList& operator=(const HeapList&) = delete;
  bool Push(const T& item) {
    if (count_ == room_) {
      const size_t room = room_ ? room_ * 2 : 16;
      void* grown = MemRealloc(items_, room * sizeof(T));
      if (!grown) return false;
      items_ = static_cast<T*>(grown);
      room_ = room;
    }
    items_[count_++] = item;
    return true;
  }
  size_t size() const { return count_; }
  T& operator[](size_t i) { return items_[i]; }
  const T& operator[](size_t i) const { return items_[i]; }
  T* begin() { return items_; }
  T* end() { return items_ + count_; }
  const T* begin() const { return items_; }
  const T* end() const { return items_ + count_; }

 private:
  T* items_ = nullptr;
  size_t count_ = 0, room_ = 0;
};

// A new copy of a text (MemFree it), or null when memory runs out.
char* CopyText(const char* text);

// Reads a text whose length is not known beforehand, such as a control
// item's: fill(text, room) writes at most room bytes, terminator included.
// The room starts at 256 bytes and doubles until two bytes are left over, so
// a double-byte character cut at the end cannot pass for the end of the
// text. A new block (MemFree it), or null when memory runs out.
template <typename Fill>
char* ReadWholeText(Fill fill) {
  for (size_t room = 256;; room *= 2) {
    char* text = static_cast<char*>(MemAlloc(room));
    if (!text) return nullptr;
    text[0] = '\0';
    fill(text, room);
    text[room - 1] = '\0';
    size_t length = 0;
    while (text[length]) ++length;
    if (length + 2 < room) return text;
    MemFree(text);
  }
}

// A growable zero-terminated text. Capacity starts at 4096 bytes and stays a
// multiple of 4096; it doubles when it runs out so that long exports cost time
// linear in their size. The length is kept, so appending never re-measures
// the text. The first append makes the text of a buffer never initialised; a
// buffer whose memory ran out holds no text (text is null, failed is set)
// and ignores further appends.
struct TextBuffer {
  char* text = nullptr;
  uint32_t capacity = 0;  // bytes allocated, terminator included
  uint32_t length = 0;    // bytes of text, terminator excluded
  bool failed = false;

  TextBuffer() = default;
  ~TextBuffer();
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;
};

constexpr uint32_t kTextBufferStep = 4096;

int TextBufferInit(TextBuffer* buffer);
int TextBufferAppend(TextBuffer* buffer, const char* text);
int TextBufferAppendBytes(TextBuffer* buffer, const char* bytes, size_t count);
int TextBufferAppendChar(TextBuffer* buffer, char c);
// Cuts the text back to `length` bytes (length must not exceed the current one).
void TextBufferTruncate(TextBuffer* buffer, uint32_t length);
void TextBufferFree(TextBuffer* buffer);
