#include "core/messages.h"

#include <windows.h>

#include <cstring>

#include "core/memory.h"

const char kNoStringResource[] = "<<NO STRING RESOURCE FOUND>>";

namespace {

struct CachedMessage {
  int id;
  char* text;
  CachedMessage* next;
};

CachedMessage* head = nullptr;
CachedMessage* tail = nullptr;

HINSTANCE OwnModule() { return GetModuleHandleA(nullptr); }

// Loads the whole text, growing the block while the loader may have cut it.
char* LoadWholeString(int id) {
  size_t room = 256;
  for (;;) {
    char* block = static_cast<char*>(MemAlloc(room));
    if (!block) return nullptr;
    memset(block, 0, room);
    const int length = LoadStringA(OwnModule(), UINT(id), block, int(room));
    if (size_t(length) < room - 1) return block;
    MemFree(block);
    room += 256;
  }
}

}  // namespace

const char* LoadMessage(int id) {
  char probe[3];
  if (LoadStringA(OwnModule(), UINT(id), probe, sizeof probe) == 0) return kNoStringResource;
  for (CachedMessage* m = head; m; m = m->next)
    if (m->id == id) return m->text;
  char* text = LoadWholeString(id);
  if (!text) return nullptr;
  auto* entry = static_cast<CachedMessage*>(MemAlloc(sizeof(CachedMessage)));
  if (!entry) {
    MemFree(text);
    return nullptr;
  }
  *entry = {id, text, nullptr};
  (tail ? tail->next : head) = entry;
  tail = entry;
  return text;
}

void FreeMessages() {
  while (head) {
    CachedMessage* next = head->next;
    MemFree(head->text);
    MemFree(head);
    head = next;
  }
  tail = nullptr;
}
