#include "platform/UpdateSignature.h"

#include <array>
#include <mutex>

#include <QFile>

#include <openssl/evp.h>
#include <sodium.h>

#include "platform/UpdateKey.h"

namespace sonarelle::UpdateSignature {

namespace {

// False only when the library finds no source of randomness; then nothing is trusted.
bool InitSodium() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = sodium_init() >= 0; });
  return ready;
}

// Exactly `out.size()` bytes from a hex text with nothing else in it.
template <size_t N>
bool FromHex(const QByteArray& hex, std::array<unsigned char, N>* out) {
  if (hex.size() != static_cast<qsizetype>(2 * N)) return false;
  size_t length = 0;
  const char* end = nullptr;
  return sodium_hex2bin(out->data(), N, hex.constData(), hex.size(), nullptr, &length, &end) == 0 &&
         length == N && end == hex.constData() + hex.size();
}

template <size_t N>
QByteArray ToHex(const std::array<unsigned char, N>& bytes) {
  QByteArray hex(2 * N + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), bytes.data(), N);
  hex.chop(1);
  return hex;
}

}  // namespace

QByteArray ReleasePublicKey() {
  return QByteArray(SONARELLE_UPDATE_PUBLIC_KEY);
}

bool Verify(const QByteArray& data, const QByteArray& signatureText,
            const QByteArray& publicKeyHex) {
  if (!InitSodium()) return false;
  std::array<unsigned char, crypto_sign_BYTES> signature{};
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> key{};
  if (!FromHex(signatureText.trimmed(), &signature) || !FromHex(publicKeyHex.trimmed(), &key)) {
    return false;
  }
  return crypto_sign_verify_detached(signature.data(),
                                     reinterpret_cast<const unsigned char*>(data.constData()),
                                     data.size(), key.data()) == 0;
}

QByteArray Sign(const QByteArray& data, const QByteArray& secretKeyHex) {
  if (!InitSodium()) return {};
  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> key{};
  if (!FromHex(secretKeyHex.trimmed(), &key)) return {};
  std::array<unsigned char, crypto_sign_BYTES> signature{};
  crypto_sign_detached(signature.data(), nullptr,
                       reinterpret_cast<const unsigned char*>(data.constData()), data.size(),
                       key.data());
  sodium_memzero(key.data(), key.size());
  return ToHex(signature) + '\n';
}

void GenerateKeyPair(QByteArray* publicKeyHex, QByteArray* secretKeyHex) {
  publicKeyHex->clear();
  secretKeyHex->clear();
  if (!InitSodium()) return;
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
  crypto_sign_keypair(publicKey.data(), secretKey.data());
  *publicKeyHex = ToHex(publicKey);
  *secretKeyHex = ToHex(secretKey);
  sodium_memzero(secretKey.data(), secretKey.size());
}

QString FileSha256(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  Sha256 digest;
  QByteArray block(1 << 16, Qt::Uninitialized);
  for (;;) {
    const qint64 n = file.read(block.data(), block.size());
    if (n < 0) return {};
    if (n == 0) break;
    digest.Add(block.constData(), n);
  }
  return digest.Hex();
}

// Digests come from libcrypto, which uses the processor's SHA instructions: several times
// the speed of a portable SHA-256, and downloads are hashed as they arrive.
struct Sha256::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::Add(const char* data, qint64 size) {
  EVP_DigestUpdate(state_->context, data, static_cast<std::size_t>(size));
}

QString Sha256::Hex() {
  std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(state_->context, digest.data(), &length);
  return QString::fromLatin1(ToHex(digest));
}

}  // namespace sonarelle::UpdateSignature
