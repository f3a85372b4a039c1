#include "core/memory.h"

#include <cstring>

TextBuffer::~TextBuffer() { MemFree(text); }

int TextBufferInit(TextBuffer* buffer) {
  MemFree(buffer->text);
  buffer->length = 0;
  buffer->failed = false;
  buffer->text = static_cast<char*>(MemAlloc(kTextBufferStep));
  if (!buffer->text) {
    buffer->capacity = 0;
    buffer->failed = true;
    return 0;
  }
  buffer->capacity = kTextBufferStep;
  buffer->text[0] = '\0';
  return 1;
}

void TextBufferFree(TextBuffer* buffer) {
  MemFree(buffer->text);
  buffer->text = nullptr;
  buffer->capacity = 0;
  buffer->length = 0;
}

int TextBufferAppendBytes(TextBuffer* buffer, const char* bytes, size_t count) {
  if (buffer->failed || (!buffer->text && !TextBufferInit(buffer))) return 0;
  const uint64_t needed = uint64_t(buffer->length) + count + 1;
  if (needed > buffer->capacity) {
    uint64_t capacity = uint64_t(buffer->capacity) * 2;
    if (capacity < needed) capacity = (needed + kTextBufferStep - 1) / kTextBufferStep * kTextBufferStep;
    if (capacity > 0xFFFFF000u) capacity = (needed <= 0xFFFFF000u) ? 0xFFFFF000u : 0;
    void* grown = capacity ? MemRealloc(buffer->text, size_t(capacity)) : nullptr;
    if (!grown) {
      TextBufferFree(buffer);
      buffer->failed = true;
      return 0;
    }
    buffer->text = static_cast<char*>(grown);
    buffer->capacity = uint32_t(capacity);
  }
  memcpy(buffer->text + buffer->length, bytes, count);
  buffer->length += uint32_t(count);
  buffer->text[buffer->length] = '\0';
  return 1;
}

int TextBufferAppend(TextBuffer* buffer, const char* text) { return TextBufferAppendBytes(buffer, text, strlen(text)); }

int TextBufferAppendChar(TextBuffer* buffer, char c) { return TextBufferAppendBytes(buffer, &c, 1); }

void TextBufferTruncate(TextBuffer* buffer, uint32_t length) {
  if (!buffer->text || length > buffer->length) return;
  buffer->length = length;
  buffer->text[length] = '\0';
}

char* CopyText(const char* text) {
  const size_t size = strlen(text) + 1;
  char* copy = static_cast<char*>(MemAlloc(size));
  if (copy) memcpy(copy, text, size);
  return copy;
}
