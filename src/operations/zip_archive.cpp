#include "operations/zip_archive.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <cwchar>

#include "core/errors.h"
#include "core/handles.h"
#include "core/memory.h"
#include "core/paths.h"

namespace {

constexpr size_t kBlockSize = 1 << 20;       // read from a file, deflated and buffered at a time
constexpr size_t kPathRoom = 32768;          // the platform's longest path, in characters
constexpr size_t kNameRoom = kPathRoom * 3;  // the longest path in UTF-8
constexpr int kMostDepth = 256;              // nested folders: bounds the walk's stack, and any loop
constexpr uint32_t kNoFit32 = 0xFFFFFFFF;    // "see the ZIP64 record" in a 32-bit field
constexpr uint16_t kNoFit16 = 0xFFFF;
constexpr uint16_t kUtf8Name = 1 << 11;  // general-purpose flag: the name is UTF-8
constexpr uint16_t kStored = 0, kDeflated = 8;
// "Version made by" also names the host, in its high byte: 0 is MS-DOS, so
// readers take the low byte of the external attributes as DOS attributes.
constexpr uint16_t kVersionPlain = 20, kVersionZip64 = 45;
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE;

DWORD LastErrorOr(DWORD fallback) {
  const DWORD code = GetLastError();
  return code ? code : fallback;
}

// The most raw deflate can make of size bytes (zlib's deflateBound takes a
// 32-bit length on Windows).
uint64_t MostPacked(uint64_t size) { return size + (size >> 12) + (size >> 14) + (size >> 25) + 13; }

// A header record, little-endian, assembled before it is written.
class Record {
 public:
  Record& U16(uint32_t v) { return Put(v, 2); }
  Record& U32(uint32_t v) { return Put(v, 4); }
  Record& U64(uint64_t v) { return Put(v, 8); }
  const unsigned char* data() const { return bytes_; }
  size_t size() const { return size_; }

 private:
  Record& Put(uint64_t v, int count) {
    ARK_ASSERT(size_ + count <= sizeof bytes_);
    for (int i = 0; i < count; ++i) bytes_[size_++] = static_cast<unsigned char>(v >> (8 * i));
    return *this;
  }
  unsigned char bytes_[96];
  size_t size_ = 0;
};

// Where a file lives, to know it again under another name.
struct FileIdentity {
  DWORD volume = 0, high = 0, low = 0;
  bool operator==(const FileIdentity&) const = default;
};

bool IdentityOf(HANDLE file, FileIdentity* id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  *id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

// Opens a file or folder only to learn who it is.
bool IdentityOfPath(const wchar_t* path, FileIdentity* id) {
  FileHandle item(::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return item && IdentityOf(item.get(), id);
}

// DOS date and time in local time, by the daylight-saving rule of that day
// as Explorer shows it; the format holds 1980 to 2107 in two-second steps.
void DosDateTime(const FILETIME& written, uint16_t* date, uint16_t* time) {
  SYSTEMTIME utc, local;
  *date = (1 << 5) | 1;  // 1980-01-01
  *time = 0;
  if (!::FileTimeToSystemTime(&written, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
      local.wYear < 1980)
    return;
  if (local.wYear > 2107) {
    *date = (127 << 9) | (12 << 5) | 31;
    *time = (23 << 11) | (59 << 5) | 29;
    return;
  }
  *date = uint16_t(((local.wYear - 1980) << 9) | (local.wMonth << 5) | local.wDay);
  *time = uint16_t((local.wHour << 11) | (local.wMinute << 5) | (local.wSecond / 2));
}

struct Entry {
  uint64_t offset = 0;  // of the local header
  uint64_t size = 0, packed = 0;
  uint32_t crc = 0, attributes = 0;
  uint32_t nameStart = 0, nameLength = 0;  // in the names buffer
  uint16_t flags = 0, method = kStored, date = 0, time = 0;
  bool zip64Local = false;  // the local header carries 64-bit sizes

  // What the central directory needs in its ZIP64 field.
  bool BigSizes() const { return zip64Local || size >= kNoFit32 || packed >= kNoFit32; }
  bool BigOffset() const { return offset >= kNoFit32; }
  uint16_t Version() const { return BigSizes() || BigOffset() ? kVersionZip64 : kVersionPlain; }
};

// The archive being written, through a buffer. Header fields learnt only
// after the data are patched in the buffer while they are still there.
class ArchiveFile {
 public:
  DWORD Create(const wchar_t* path) {
    buffer_.reset(MemAlloc(kBlockSize));
    if (!buffer_) return ERROR_NOT_ENOUGH_MEMORY;
    file_.reset(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_ ? ERROR_SUCCESS : LastErrorOr(ERROR_CANNOT_MAKE);
  }
  HANDLE handle() const { return file_.get(); }  // not owned by the caller
  uint64_t position() const { return written_ + used_; }

  DWORD Write(const void* bytes, size_t count) {
    const char* from = static_cast<const char*>(bytes);
    while (count > 0) {
      if (used_ == kBlockSize)
        if (const DWORD code = Flush()) return code;
      const size_t part = count < kBlockSize - used_ ? count : kBlockSize - used_;
      memcpy(buffer_.get() + used_, from, part);
      used_ += part;
      from += part;
      count -= part;
    }
    return ERROR_SUCCESS;
  }
  DWORD Write(const Record& record) { return Write(record.data(), record.size()); }

  // Rewrites bytes already written at offset at.
  DWORD Patch(uint64_t at, const Record& record) {
    ARK_ASSERT(at + record.size() <= position());
    if (at >= written_) {
      memcpy(buffer_.get() + (at - written_), record.data(), record.size());
      return ERROR_SUCCESS;
    }
    if (const DWORD code = Flush()) return code;
    LARGE_INTEGER there, end;
    there.QuadPart = LONGLONG(at);
    end.QuadPart = LONGLONG(written_);
    DWORD done = 0;
    if (!SetFilePointerEx(file_.get(), there, nullptr, FILE_BEGIN) ||
        !WriteFile(file_.get(), record.data(), DWORD(record.size()), &done, nullptr) ||
        !SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN))
      return LastErrorOr(ERROR_WRITE_FAULT);
    return done == record.size() ? ERROR_SUCCESS : ERROR_DISK_FULL;
  }

  // Everything on the disk, and the file closed.
  DWORD Close() {
    DWORD code = Flush();
    if (!code && !FlushFileBuffers(file_.get())) code = LastErrorOr(ERROR_WRITE_FAULT);
    if (!CloseHandle(file_.release()) && !code) code = LastErrorOr(ERROR_WRITE_FAULT);
    return code;
  }
  void Abandon() { file_.reset(); }

 private:
  DWORD Flush() {
    DWORD done = 0;
    if (used_ && !WriteFile(file_.get(), buffer_.get(), DWORD(used_), &done, nullptr))
      return LastErrorOr(ERROR_WRITE_FAULT);
    if (done != used_) return ERROR_DISK_FULL;
    written_ += used_;
    used_ = 0;
    return ERROR_SUCCESS;
  }

  FileHandle file_;
  HeapBlock buffer_;
  size_t used_ = 0;
  uint64_t written_ = 0;  // bytes already on the disk
};

struct Deflater {
  z_stream stream = {};
  bool ready = false;
  Deflater() = default;
  ~Deflater() {
    if (ready) deflateEnd(&stream);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
};

class Packer {
 public:
  DWORD Pack(const wchar_t* folder, const wchar_t* zipPath);

 private:
  bool AppendPath(const wchar_t* text);
  void TruncatePath(size_t length) { path_[pathLength_ = length] = L'\0'; }
  DWORD AddContents(int depth);  // of the folder in path_, which ends in "\\"
  DWORD AddFolder(const WIN32_FIND_DATAW& found, int depth);
  DWORD AddFile(const WIN32_FIND_DATAW& found);
  DWORD StartEntry(const WIN32_FIND_DATAW& found, bool folder, Entry* entry);
  DWORD Deflate(HANDLE file, Entry* entry);
  DWORD FinishEntry(const Entry& entry);
  DWORD WriteDirectory();

  HeapBlock pathBlock_, nameBlock_, bytesBlock_, checkBlock_, inputBlock_, outputBlock_;
  wchar_t* path_ = nullptr;
  size_t pathLength_ = 0, rootLength_ = 0;
  FileIdentity archive_, earlier_;
  bool hasEarlier_ = false;
  ArchiveFile out_;
  Deflater deflater_;
  HeapList<Entry> entries_;
  TextBuffer names_;
};

bool Packer::AppendPath(const wchar_t* text) {
  const size_t length = wcslen(text);
  if (pathLength_ + length >= kPathRoom) return false;
  memcpy(path_ + pathLength_, text, (length + 1) * sizeof(wchar_t));
  pathLength_ += length;
  return true;
}

DWORD Packer::AddContents(int depth) {
  const size_t folderLength = pathLength_;
  if (!AppendPath(L"*")) return ERROR_FILENAME_EXCED_RANGE;
  WIN32_FIND_DATAW found;
  FindHandle search(::FindFirstFileW(path_, &found));
  TruncatePath(folderLength);
  if (!search) {
    const DWORD code = LastErrorOr(ERROR_PATH_NOT_FOUND);
    return code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : code;
  }
  do {
    if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
    if (!AppendPath(found.cFileName)) return ERROR_FILENAME_EXCED_RANGE;
    const DWORD code = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? AddFolder(found, depth) : AddFile(found);
    TruncatePath(folderLength);
    if (code) return code;
  } while (::FindNextFileW(search.get(), &found));
  const DWORD end = GetLastError();
  return end == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : end;
}

DWORD Packer::AddFolder(const WIN32_FIND_DATAW& found, int depth) {
  Entry entry;
  if (const DWORD code = StartEntry(found, true, &entry)) return code;
  if (const DWORD code = FinishEntry(entry)) return code;
  // A folder link (a junction or symbolic link, as wine shows a Unix one
  // too) is kept as an empty folder: it may lead back to a parent.
  if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_SUCCESS;
  if (depth + 1 == kMostDepth || !AppendPath(L"\\")) return ERROR_FILENAME_EXCED_RANGE;
  return AddContents(depth + 1);
}

DWORD Packer::AddFile(const WIN32_FIND_DATAW& found) {
  FileHandle file(
      ::CreateFileW(path_, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  // The archive itself, or the one it replaces, when they lie in the folder.
  FileIdentity id;
  if (!file) {
    const DWORD code = LastErrorOr(ERROR_OPEN_FAILED);
    return code == ERROR_SHARING_VIOLATION && IdentityOfPath(path_, &id) && id == archive_ ? ERROR_SUCCESS : code;
  }
  if (hasEarlier_ && IdentityOf(file.get(), &id) && id == earlier_) return ERROR_SUCCESS;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return LastErrorOr(ERROR_READ_FAULT);
  Entry entry;
  entry.size = uint64_t(size.QuadPart);
  // Empty files are stored: a deflate stream of nothing is still two bytes.
  entry.method = entry.size ? kDeflated : kStored;
  entry.zip64Local = MostPacked(entry.size) >= kNoFit32;
  if (const DWORD code = StartEntry(found, false, &entry)) return code;
  if (entry.size)
    if (const DWORD code = Deflate(file.get(), &entry)) return code;
  return FinishEntry(entry);
}

// Names the entry, writes its local header and notes where it went.
DWORD Packer::StartEntry(const WIN32_FIND_DATAW& found, bool folder, Entry* entry) {
  // The path below the root, "/" between its parts and after a folder's.
  wchar_t* name = reinterpret_cast<wchar_t*>(nameBlock_.get());
  int length = 0;
  for (const wchar_t* c = path_ + rootLength_; *c; ++c) name[length++] = *c == L'\\' ? L'/' : *c;
  if (folder) name[length++] = L'/';

  // The OEM code page when every character survives the round trip (no "?"
  // and no best-fit look-alike), else UTF-8.
  char* bytes = bytesBlock_.get();
  BOOL defaulted = FALSE;
  int size =
      ::WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, name, length, bytes, int(kNameRoom), nullptr, &defaulted);
  wchar_t* back = reinterpret_cast<wchar_t*>(checkBlock_.get());
  const bool fits = size > 0 && !defaulted &&
                    ::MultiByteToWideChar(CP_OEMCP, 0, bytes, size, back, int(kPathRoom)) == length &&
                    memcmp(back, name, length * sizeof(wchar_t)) == 0;
  if (!fits) {
    entry->flags |= kUtf8Name;
    size = ::WideCharToMultiByte(CP_UTF8, 0, name, length, bytes, int(kNameRoom), nullptr, nullptr);
    if (size <= 0) return LastErrorOr(ERROR_NO_UNICODE_TRANSLATION);
  }
  if (size > kNoFit16) return ERROR_FILENAME_EXCED_RANGE;
  entry->nameStart = names_.length;
  entry->nameLength = uint32_t(size);
  if (!TextBufferAppendBytes(&names_, bytes, size_t(size))) return ERROR_NOT_ENOUGH_MEMORY;

  entry->attributes = found.dwFileAttributes & kKeptAttributes;
  DosDateTime(found.ftLastWriteTime, &entry->date, &entry->time);
  entry->offset = out_.position();
  Record header;
  header.U32(0x04034b50).U16(entry->Version()).U16(entry->flags).U16(entry->method);
  header.U16(entry->time).U16(entry->date).U32(0);  // the CRC, patched in afterwards
  header.U32(entry->zip64Local ? kNoFit32 : 0).U32(entry->zip64Local ? kNoFit32 : 0);
  header.U16(uint32_t(size)).U16(entry->zip64Local ? 20 : 0);
  if (const DWORD code = out_.Write(header)) return code;
  if (const DWORD code = out_.Write(bytes, size_t(size))) return code;
  if (!entry->zip64Local) return ERROR_SUCCESS;
  Record extra;
  extra.U16(0x0001).U16(16).U64(0).U64(0);  // the sizes, patched in afterwards
  return out_.Write(extra);
}

// Deflates the file's content into the archive in blocks, up to the size it
// had when opened.
DWORD Packer::Deflate(HANDLE file, Entry* entry) {
  z_stream& z = deflater_.stream;
  if (deflateReset(&z) != Z_OK) return ERROR_INVALID_FUNCTION;
  auto* input = reinterpret_cast<Bytef*>(inputBlock_.get());
  auto* output = reinterpret_cast<Bytef*>(outputBlock_.get());
  uLong crc = crc32(0, nullptr, 0);
  uint64_t read = 0;
  for (int flush = Z_NO_FLUSH; flush != Z_FINISH;) {
    const uint64_t left = entry->size - read;
    DWORD got = 0;
    if (!ReadFile(file, input, DWORD(left < kBlockSize ? left : kBlockSize), &got, nullptr))
      return LastErrorOr(ERROR_READ_FAULT);
    read += got;
    crc = crc32(crc, input, got);
    if (got == 0 || read == entry->size) flush = Z_FINISH;
    z.next_in = input;
    z.avail_in = got;
    do {
      z.next_out = output;
      z.avail_out = kBlockSize;
      if (deflate(&z, flush) == Z_STREAM_ERROR) return ERROR_INVALID_FUNCTION;
      const size_t produced = kBlockSize - z.avail_out;
      if (const DWORD code = out_.Write(output, produced)) return code;
      entry->packed += produced;
    } while (z.avail_out == 0);
  }
  entry->crc = uint32_t(crc);
  entry->size = read;  // less when the file shrank since
  ARK_ASSERT(entry->zip64Local || entry->packed < kNoFit32);
  return ERROR_SUCCESS;
}

// Patches the CRC and sizes into the local header and keeps the entry for
// the central directory.
DWORD Packer::FinishEntry(const Entry& entry) {
  Record sums;
  sums.U32(entry.crc);
  if (!entry.zip64Local) sums.U32(uint32_t(entry.packed)).U32(uint32_t(entry.size));
  if (const DWORD code = out_.Patch(entry.offset + 14, sums)) return code;
  if (entry.zip64Local) {
    Record sizes;
    sizes.U64(entry.size).U64(entry.packed);
    if (const DWORD code = out_.Patch(entry.offset + 30 + entry.nameLength + 4, sizes)) return code;
  }
  return entries_.Push(entry) ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

DWORD Packer::WriteDirectory() {
  const uint64_t start = out_.position();
  bool zip64 = entries_.size() >= kNoFit16;
  for (const Entry& entry : entries_) {
    Record header, extra;
    if (entry.BigSizes()) extra.U64(entry.size).U64(entry.packed);
    if (entry.BigOffset()) extra.U64(entry.offset);
    header.U32(0x02014b50).U16(entry.Version()).U16(entry.Version()).U16(entry.flags).U16(entry.method);
    header.U16(entry.time).U16(entry.date).U32(entry.crc);
    header.U32(entry.BigSizes() ? kNoFit32 : uint32_t(entry.packed));
    header.U32(entry.BigSizes() ? kNoFit32 : uint32_t(entry.size));
    header.U16(entry.nameLength).U16(extra.size() ? uint32_t(extra.size()) + 4 : 0);
    header.U16(0).U16(0).U16(0).U32(entry.attributes);  // no comment; disk 0; binary
    header.U32(entry.BigOffset() ? kNoFit32 : uint32_t(entry.offset));
    if (const DWORD code = out_.Write(header)) return code;
    if (const DWORD code = out_.Write(names_.text + entry.nameStart, entry.nameLength)) return code;
    if (extra.size()) {
      Record tag;
      tag.U16(0x0001).U16(uint32_t(extra.size()));
      if (const DWORD code = out_.Write(tag)) return code;
      if (const DWORD code = out_.Write(extra)) return code;
    }
    zip64 = zip64 || entry.Version() == kVersionZip64;
  }
  const uint64_t end = out_.position(), size = end - start;
  zip64 = zip64 || start >= kNoFit32 || size >= kNoFit32;
  const uint64_t count = entries_.size();
  if (zip64) {
    Record record, locator;
    record.U32(0x06064b50).U64(44).U16(kVersionZip64).U16(kVersionZip64).U32(0).U32(0);
    record.U64(count).U64(count).U64(size).U64(start);
    locator.U32(0x07064b50).U32(0).U64(end).U32(1);
    if (const DWORD code = out_.Write(record)) return code;
    if (const DWORD code = out_.Write(locator)) return code;
  }
  Record last;
  last.U32(0x06054b50).U16(0).U16(0);
  last.U16(count >= kNoFit16 ? kNoFit16 : uint32_t(count)).U16(count >= kNoFit16 ? kNoFit16 : uint32_t(count));
  last.U32(size >= kNoFit32 ? kNoFit32 : uint32_t(size)).U32(start >= kNoFit32 ? kNoFit32 : uint32_t(start));
  last.U16(0);
  return out_.Write(last);
}

DWORD Packer::Pack(const wchar_t* folder, const wchar_t* zipPath) {
  pathBlock_.reset(MemAlloc(kPathRoom * sizeof(wchar_t)));
  nameBlock_.reset(MemAlloc((kPathRoom + 1) * sizeof(wchar_t)));
  checkBlock_.reset(MemAlloc(kPathRoom * sizeof(wchar_t)));
  bytesBlock_.reset(MemAlloc(kNameRoom));
  inputBlock_.reset(MemAlloc(kBlockSize));
  outputBlock_.reset(MemAlloc(kBlockSize));
  if (!pathBlock_ || !nameBlock_ || !checkBlock_ || !bytesBlock_ || !inputBlock_ || !outputBlock_ ||
      !TextBufferInit(&names_))
    return ERROR_NOT_ENOUGH_MEMORY;
  // Raw deflate (negative window bits): ZIP keeps no zlib wrapper.
  if (deflateInit2(&deflater_.stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return ERROR_NOT_ENOUGH_MEMORY;
  deflater_.ready = true;

  path_ = reinterpret_cast<wchar_t*>(pathBlock_.get());
  TruncatePath(0);
  if (!AppendPath(folder)) return ERROR_FILENAME_EXCED_RANGE;
  const DWORD rootAttributes = ::GetFileAttributesW(path_);
  if (rootAttributes == INVALID_FILE_ATTRIBUTES) return LastErrorOr(ERROR_PATH_NOT_FOUND);
  if (!(rootAttributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
  if (pathLength_ && path_[pathLength_ - 1] != L'\\' && path_[pathLength_ - 1] != L'/' && !AppendPath(L"\\"))
    return ERROR_FILENAME_EXCED_RANGE;
  rootLength_ = pathLength_;

  const size_t zipLength = wcslen(zipPath);
  HeapBlock temporaryBlock(MemAlloc((zipLength + 5) * sizeof(wchar_t)));
  if (!temporaryBlock) return ERROR_NOT_ENOUGH_MEMORY;
  auto* temporary = reinterpret_cast<wchar_t*>(temporaryBlock.get());
  memcpy(temporary, zipPath, zipLength * sizeof(wchar_t));
  memcpy(temporary + zipLength, L".tmp", 5 * sizeof(wchar_t));

  hasEarlier_ = IdentityOfPath(zipPath, &earlier_);
  if (const DWORD code = out_.Create(temporary)) return code;
  DWORD code = IdentityOf(out_.handle(), &archive_) ? ERROR_SUCCESS : LastErrorOr(ERROR_INVALID_HANDLE);
  if (!code) code = AddContents(0);
  if (!code) code = WriteDirectory();
  if (!code) code = out_.Close();
  if (!code && !::MoveFileExW(temporary, zipPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    code = LastErrorOr(ERROR_ACCESS_DENIED);
  if (code) {
    out_.Abandon();
    ::DeleteFileW(temporary);
  }
  return code;
}

}  // namespace

DWORD WriteZipArchive(const wchar_t* folder, const wchar_t* zipPath) {
  DWORD code;
  {
    Packer packer;
    code = packer.Pack(folder, zipPath);
  }
  return SetLastErrorCode(code);
}
