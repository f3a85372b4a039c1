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

// Loads the whole text: the resource's own wide text, converted at the size
// it needs. (Growing a buffer until LoadStringA stops filling it cannot tell
// a whole text from one cut where a double-byte character did not fit.)
char* LoadWholeString(int id) {
  const wchar_t* resource = nullptr;
  const int length = LoadStringW(OwnModule(), UINT(id), reinterpret_cast<wchar_t*>(&resource), 0);
  if (length <= 0 || !resource) return nullptr;
  const int size = WideCharToMultiByte(CP_ACP, 0, resource, length, nullptr, 0, nullptr, nullptr);
  char* block = static_cast<char*>(MemAlloc(size_t(size) + 1));
  if (!block) return nullptr;
  WideCharToMultiByte(CP_ACP, 0, resource, length, block, size, nullptr, nullptr);
  block[size] = '\0';
  return block;
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
