// SHA-256 through the system's bcrypt: the digests of manifest.sha256, taken
// of a file while it is copied or read back.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <cstdint>

#include "core/handles.h"

struct Sha256 {
  uint8_t bytes[32] = {};
  bool operator==(const Sha256&) const = default;
};

// A digest taken on the way, when it could be.
struct TakenDigest {
  Sha256 value;
  bool taken = false;
};

// Where digests taken on the way go, each with the path of its file; false
// when it cannot take one (memory ran out).
class DigestSink {
 public:
  virtual bool Add(const Sha256& digest, const wchar_t* path, size_t length) = 0;

 protected:
  ~DigestSink() = default;
};

struct AlgorithmTraits {
  static BCRYPT_ALG_HANDLE Invalid() { return nullptr; }
  static bool Valid(BCRYPT_ALG_HANDLE h) { return h != nullptr; }
  static void Close(BCRYPT_ALG_HANDLE h) { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
  static BCRYPT_HASH_HANDLE Invalid() { return nullptr; }
  static bool Valid(BCRYPT_HASH_HANDLE h) { return h != nullptr; }
  static void Close(BCRYPT_HASH_HANDLE h) { BCryptDestroyHash(h); }
};

// One digest after another: by the processor's SHA instructions where it
// has them (checked against bcrypt once), else by bcrypt from one open
// algorithm.
class Sha256Hasher {
 public:
  // Starts a new digest, dropping one not finished. False when bcrypt fails.
  bool Start();
  bool Add(const void* bytes, DWORD size);
  bool Finish(Sha256* digest);

  // For the one check of the own rounds against bcrypt: Restart starts a
  // digest the way ForceOwn chose.
  void ForceOwn(bool own) { own_ = own; }
  bool Restart();

 private:
  void OwnAdd(const uint8_t* bytes, size_t size);
  void OwnFinish(Sha256* digest);

  UniqueOwner<BCRYPT_ALG_HANDLE, AlgorithmTraits> algorithm_;
  UniqueOwner<BCRYPT_HASH_HANDLE, HashTraits> hash_;
  bool own_ = false, started_ = false;
  uint32_t state_[8] = {};
  uint64_t total_ = 0;
  size_t pending_ = 0;
  uint8_t block_[64] = {};
};
