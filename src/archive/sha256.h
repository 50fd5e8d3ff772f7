// Incremental SHA-256 through OpenSSL's EVP interface (the CPU's SHA instructions where present).
// Move-only; one thread at a time per instance. Construction throws Error (domain "OpenSSL")
// only when the library cannot provide the algorithm.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct evp_md_ctx_st;

namespace quillop {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;

  void update(const void* data, std::size_t length);
  // The digest of everything fed so far as 64 lower-case hex digits. Call once.
  std::string hexDigest();

 private:
  struct Free {
    void operator()(evp_md_ctx_st* context) const;
  };
  std::unique_ptr<evp_md_ctx_st, Free> context_;
};

}  // namespace quillop
