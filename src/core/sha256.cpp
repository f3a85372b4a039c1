#include "core/sha256.h"

bool Sha256Hasher::Start() {
  hash_.reset();
  if (!algorithm_ && BCryptOpenAlgorithmProvider(algorithm_.out(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
    return false;
  return BCryptCreateHash(algorithm_.get(), hash_.out(), nullptr, 0, nullptr, 0, 0) == 0;
}

bool Sha256Hasher::Add(const void* bytes, DWORD size) {
  return hash_ && BCryptHashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(bytes)), size, 0) == 0;
}

bool Sha256Hasher::Finish(Sha256* digest) {
  const bool done = hash_ && BCryptFinishHash(hash_.get(), digest->bytes, sizeof digest->bytes, 0) == 0;
  hash_.reset();
  return done;
}
