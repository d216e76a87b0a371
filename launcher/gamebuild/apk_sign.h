// What the APK signer needs of public-key cryptography: ECDSA over P-256
// with SHA-256 and deterministic nonces (RFC 6979, done here over OpenSSL's
// HMAC and big numbers, since OpenSSL 3.0 has none of its own), the DER
// pieces of one self-signed X.509 certificate, and the check that a stored
// certificate belongs to a stored key.
#pragma once
#include <string>
#include <string_view>

#include <initializer_list>

// SHA-256 of the bytes (32 bytes), and of several pieces one after another.
std::string sha256(std::string_view bytes);
std::string sha256_parts(std::initializer_list<std::string_view> parts);

// True when `scalar` is 32 big-endian bytes of a number in 1 .. n-1 (n the
// order of P-256).
bool p256_scalar_ok(std::string_view scalar);
// A scalar from 48 random bytes, reduced modulo n; "" when it is zero.
std::string p256_scalar_from(std::string_view random48);
// The public point of a valid scalar, uncompressed (0x04, X, Y: 65 bytes);
// "" on failure.
std::string p256_public_point(std::string_view scalar);

// The RFC 6979 nonce (32 bytes) for the key and a SHA-256 message digest;
// `attempt` 0 is the first candidate, each later one the next that the
// generator gives (used only when a signature with the first comes out 0).
std::string rfc6979_nonce(std::string_view scalar, std::string_view digest, int attempt = 0);

struct Ecdsa_Signature {
    std::string r, s;   // 32 bytes each, big-endian
    std::string der;    // SEQUENCE { INTEGER r, INTEGER s }
};
// Signs SHA-256 of `message` with the key. False on failure.
bool ecdsa_p256_sign(std::string_view scalar, std::string_view message, Ecdsa_Signature& out);

// DER: a tag with its content, and an unsigned big-endian number as INTEGER.
std::string der_tlv(unsigned char tag, std::string_view content);
std::string der_uint(std::string_view big_endian);

// The SubjectPublicKeyInfo of a P-256 point (id-ecPublicKey, prime256v1).
std::string p256_spki(std::string_view point);
// The signing certificate of the key: self-signed X.509 v3, CN "Quillmarsh",
// valid 2026-01-01 to 2049-12-31, no extensions. `err` names the step that
// failed ("Cannot make the APK's certificate." or "Cannot sign the APK's
// certificate.").
bool apk_certificate(std::string_view scalar, std::string& cert, std::string& err);
// True when `cert` is one whole DER certificate whose public key is the
// key's and whose signature that key made.
bool certificate_matches(std::string_view cert, std::string_view scalar);
