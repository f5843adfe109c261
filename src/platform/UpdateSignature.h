#pragma once

#include <memory>

#include <QByteArray>
#include <QString>

// Authenticity of updates: Ed25519 signatures of the update control file and SHA-256 digests
// of the files it lists. Every function may run on any thread.

namespace sonarelle::UpdateSignature {

// The publisher's Ed25519 public key the program trusts, as 64 hex characters.
QByteArray ReleasePublicKey();

// Whether `signatureText` (the detached ".sig" file: 128 hex characters, surrounding white
// space ignored) is a valid Ed25519 signature of `data` under `publicKeyHex`.
bool Verify(const QByteArray& data, const QByteArray& signatureText,
            const QByteArray& publicKeyHex);

// The detached signature text of `data` under `secretKeyHex` (128 hex characters and "\n");
// empty when the key is not 128 hex characters.
QByteArray Sign(const QByteArray& data, const QByteArray& secretKeyHex);

// A new key pair as hex texts; both empty when the system gives no randomness.
void GenerateKeyPair(QByteArray* publicKeyHex, QByteArray* secretKeyHex);

// SHA-256 of a file's contents as 64 lower-case hex characters; empty when unreadable.
QString FileSha256(const QString& path);

// A SHA-256 digest taken piece by piece, as the bytes of a download arrive.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Add(const char* data, qint64 size);
  // The digest of everything added, as 64 lower-case hex characters; ends the digest.
  QString Hex();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace sonarelle::UpdateSignature
