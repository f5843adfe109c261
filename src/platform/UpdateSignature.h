#pragma once

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

}  // namespace sonarelle::UpdateSignature
