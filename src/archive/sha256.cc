#include "archive/sha256.h"

#include <openssl/evp.h>

#include "platform/error.h"

namespace quillop {
namespace {

Error unavailable() { return Error("OpenSSL", 0, "SHA-256 non disponibile."); }

// Fetched once: an implicit fetch per file would look the algorithm up under a lock each time.
const EVP_MD* algorithm() {
  static EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  if (fetched == nullptr) throw unavailable();
  return fetched;
}

}  // namespace

void Sha256::Free::operator()(evp_md_ctx_st* context) const { EVP_MD_CTX_free(context); }

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
  if (!context_ || EVP_DigestInit_ex(context_.get(), algorithm(), nullptr) != 1) {
    throw unavailable();
  }
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(const void* data, std::size_t length) {
  if (EVP_DigestUpdate(context_.get(), data, length) != 1) throw unavailable();
}

std::string Sha256::hexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (EVP_DigestFinal_ex(context_.get(), digest, &length) != 1) throw unavailable();
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * length);
  for (unsigned i = 0; i < length; ++i) {
    text += kDigits[digest[i] >> 4];
    text += kDigits[digest[i] & 0x0F];
  }
  return text;
}

}  // namespace quillop
