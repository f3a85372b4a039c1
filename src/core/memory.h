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

// A growable zero-terminated text. Capacity starts at 4096 bytes and stays a
// multiple of 4096; it doubles when it runs out so that long exports cost time
// linear in their size. The length is kept, so appending never re-measures
// the text. A buffer whose memory ran out holds no text (text is null) and
// ignores further appends.
struct TextBuffer {
  char* text = nullptr;
  uint32_t capacity = 0;  // bytes allocated, terminator included
  uint32_t length = 0;    // bytes of text, terminator excluded

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
