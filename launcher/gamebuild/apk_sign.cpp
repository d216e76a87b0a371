#include "launcher/gamebuild/apk_sign.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>

#include <memory>

namespace {

struct Bn_Free {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
struct Ctx_Free {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
struct Group_Free {
    void operator()(EC_GROUP* g) const { EC_GROUP_free(g); }
};
struct Point_Free {
    void operator()(EC_POINT* p) const { EC_POINT_free(p); }
};
struct X509_Free {
    void operator()(X509* x) const { X509_free(x); }
};
using Bn = std::unique_ptr<BIGNUM, Bn_Free>;
using Ctx = std::unique_ptr<BN_CTX, Ctx_Free>;
using Group = std::unique_ptr<EC_GROUP, Group_Free>;
using Point = std::unique_ptr<EC_POINT, Point_Free>;

constexpr size_t scalar_size = 32;

Bn bn_from(std::string_view bytes) {
    return Bn(BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()), nullptr));
}

std::string bn_bytes(const BIGNUM* b) {
    std::string out(scalar_size, '\0');
    if (BN_bn2binpad(b, reinterpret_cast<unsigned char*>(out.data()), int(out.size())) != int(scalar_size)) return "";
    return out;
}

Group p256() { return Group(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1)); }

std::string hmac(std::string_view key, std::string_view data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!HMAC(EVP_sha256(), key.data(), int(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
              data.size(), md, &size))
        return "";
    return std::string(reinterpret_cast<char*>(md), size);
}

// The key-independent DER pieces of the certificate.
std::string oid(std::string_view encoded) { return der_tlv(0x06, encoded); }
const std::string_view oid_ecdsa_sha256 = "\x2A\x86\x48\xCE\x3D\x04\x03\x02";
const std::string_view oid_ec_public_key = "\x2A\x86\x48\xCE\x3D\x02\x01";
const std::string_view oid_prime256v1 = "\x2A\x86\x48\xCE\x3D\x03\x01\x07";
const std::string_view oid_common_name = "\x55\x04\x03";

std::string bit_string(std::string_view bytes) { return der_tlv(0x03, std::string(1, '\0') + std::string(bytes)); }

}  // namespace

std::string sha256(std::string_view bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), md, &size, EVP_sha256(), nullptr)) return "";
    return std::string(reinterpret_cast<char*>(md), size);
}

std::string sha256_parts(std::initializer_list<std::string_view> parts) {
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || !EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr)) return "";
    for (std::string_view part : parts) {
        if (!EVP_DigestUpdate(ctx.get(), part.data(), part.size())) return "";
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!EVP_DigestFinal_ex(ctx.get(), md, &size)) return "";
    return std::string(reinterpret_cast<char*>(md), size);
}

bool p256_scalar_ok(std::string_view scalar) {
    if (scalar.size() != scalar_size) return false;
    Group g = p256();
    Bn d = bn_from(scalar);
    if (!g || !d) return false;
    return !BN_is_zero(d.get()) && BN_cmp(d.get(), EC_GROUP_get0_order(g.get())) < 0;
}

std::string p256_scalar_from(std::string_view random48) {
    Group g = p256();
    Ctx ctx(BN_CTX_new());
    Bn raw = bn_from(random48);
    Bn d(BN_new());
    if (!g || !ctx || !raw || !d) return "";
    if (!BN_nnmod(d.get(), raw.get(), EC_GROUP_get0_order(g.get()), ctx.get()) || BN_is_zero(d.get())) return "";
    return bn_bytes(d.get());
}

std::string p256_public_point(std::string_view scalar) {
    if (!p256_scalar_ok(scalar)) return "";
    Group g = p256();
    Ctx ctx(BN_CTX_new());
    Bn d = bn_from(scalar);
    Point q(g ? EC_POINT_new(g.get()) : nullptr);
    if (!ctx || !d || !q) return "";
    if (!EC_POINT_mul(g.get(), q.get(), d.get(), nullptr, nullptr, ctx.get())) return "";
    std::string out(65, '\0');
    size_t n = EC_POINT_point2oct(g.get(), q.get(), POINT_CONVERSION_UNCOMPRESSED,
                                  reinterpret_cast<unsigned char*>(out.data()), out.size(), ctx.get());
    return n == out.size() ? out : "";
}

std::string rfc6979_nonce(std::string_view scalar, std::string_view digest, int attempt) {
    // The group order and the digest are both 256 bits long, so bits2int is
    // the plain number and bits2octets is that number reduced modulo n.
    Group g = p256();
    Ctx ctx(BN_CTX_new());
    Bn h = bn_from(digest);
    if (!g || !ctx || !h || scalar.size() != scalar_size || digest.size() != scalar_size) return "";
    const BIGNUM* n = EC_GROUP_get0_order(g.get());
    Bn reduced(BN_new());
    if (!reduced || !BN_nnmod(reduced.get(), h.get(), n, ctx.get())) return "";
    std::string h_octets = bn_bytes(reduced.get());

    std::string v(32, '\x01'), k(32, '\0');
    for (char sep : {'\x00', '\x01'}) {
        k = hmac(k, v + sep + std::string(scalar) + h_octets);
        v = hmac(k, v);
    }
    for (;;) {
        v = hmac(k, v);
        if (v.size() != 32) return "";
        Bn candidate = bn_from(v);
        if (candidate && !BN_is_zero(candidate.get()) && BN_cmp(candidate.get(), n) < 0) {
            if (attempt == 0) return v;
            --attempt;
        }
        k = hmac(k, v + '\x00');
        v = hmac(k, v);
    }
}

bool ecdsa_p256_sign(std::string_view scalar, std::string_view message, Ecdsa_Signature& out) {
    if (!p256_scalar_ok(scalar)) return false;
    std::string digest = sha256(message);
    Group g = p256();
    Ctx ctx(BN_CTX_new());
    Bn d = bn_from(scalar), e = bn_from(digest);
    Bn r(BN_new()), s(BN_new()), x(BN_new()), kinv(BN_new()), t(BN_new());
    Point p(g ? EC_POINT_new(g.get()) : nullptr);
    if (!ctx || !d || !e || !r || !s || !x || !kinv || !t || !p) return false;
    const BIGNUM* n = EC_GROUP_get0_order(g.get());
    if (!BN_nnmod(e.get(), e.get(), n, ctx.get())) return false;
    // A zero r or s (never seen in practice) takes the generator's next k.
    for (int attempt = 0; attempt < 8; ++attempt) {
        Bn k = bn_from(rfc6979_nonce(scalar, digest, attempt));
        if (!k || BN_is_zero(k.get())) return false;
        BN_set_flags(k.get(), BN_FLG_CONSTTIME);
        if (!EC_POINT_mul(g.get(), p.get(), k.get(), nullptr, nullptr, ctx.get()) ||
            !EC_POINT_get_affine_coordinates(g.get(), p.get(), x.get(), nullptr, ctx.get()) ||
            !BN_nnmod(r.get(), x.get(), n, ctx.get()))
            return false;
        if (BN_is_zero(r.get())) continue;
        // s = k^-1 (e + r d) mod n
        if (!BN_mod_inverse(kinv.get(), k.get(), n, ctx.get()) || !BN_mod_mul(t.get(), r.get(), d.get(), n, ctx.get()) ||
            !BN_mod_add(t.get(), t.get(), e.get(), n, ctx.get()) ||
            !BN_mod_mul(s.get(), kinv.get(), t.get(), n, ctx.get()))
            return false;
        if (BN_is_zero(s.get())) continue;
        out.r = bn_bytes(r.get());
        out.s = bn_bytes(s.get());
        if (out.r.empty() || out.s.empty()) return false;
        out.der = der_tlv(0x30, der_uint(out.r) + der_uint(out.s));
        return true;
    }
    return false;
}

std::string der_tlv(unsigned char tag, std::string_view content) {
    std::string out(1, char(tag));
    size_t n = content.size();
    if (n < 0x80) {
        out += char(n);
    } else {
        std::string len;
        for (size_t v = n; v > 0; v >>= 8) len.insert(len.begin(), char(v & 0xFF));
        out += char(0x80 | len.size());
        out += len;
    }
    out += content;
    return out;
}

std::string der_uint(std::string_view big_endian) {
    size_t first = 0;
    while (first + 1 < big_endian.size() && big_endian[first] == '\0') ++first;
    std::string value(big_endian.substr(first));
    if (value.empty()) value = std::string(1, '\0');
    if (static_cast<unsigned char>(value[0]) & 0x80) value.insert(value.begin(), '\0');
    return der_tlv(0x02, value);
}

std::string p256_spki(std::string_view point) {
    return der_tlv(0x30, der_tlv(0x30, oid(oid_ec_public_key) + oid(oid_prime256v1)) + bit_string(point));
}

bool apk_certificate(std::string_view scalar, std::string& cert, std::string& err) {
    std::string point = p256_public_point(scalar);
    std::string digest = sha256(point);
    if (point.empty() || digest.size() != 32) {
        err = "Cannot make the APK's certificate.";
        return false;
    }
    // Serial: 8 bytes of the point's digest, positive and never zero.
    std::string serial = digest.substr(0, 8);
    serial[0] = char((static_cast<unsigned char>(serial[0]) & 0x7E) | 0x01);
    std::string algorithm = der_tlv(0x30, oid(oid_ecdsa_sha256));
    std::string name = der_tlv(
        0x30, der_tlv(0x31, der_tlv(0x30, oid(oid_common_name) + der_tlv(0x0C, "Quillmarsh"))));
    std::string validity = der_tlv(0x30, der_tlv(0x17, "260101000000Z") + der_tlv(0x17, "491231235959Z"));
    std::string tbs = der_tlv(0x30, der_tlv(0xA0, der_uint("\x02")) + der_tlv(0x02, serial) + algorithm + name +
                                        validity + name + p256_spki(point));
    Ecdsa_Signature sig;
    if (!ecdsa_p256_sign(scalar, tbs, sig)) {
        err = "Cannot sign the APK's certificate.";
        return false;
    }
    cert = der_tlv(0x30, tbs + algorithm + bit_string(sig.der));
    return true;
}

bool certificate_matches(std::string_view cert, std::string_view scalar) {
    std::string point = p256_public_point(scalar);
    if (point.empty() || cert.empty()) return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(cert.data());
    std::unique_ptr<X509, X509_Free> x(d2i_X509(nullptr, &p, long(cert.size())));
    // One whole certificate: nothing cut off, nothing after it.
    if (!x || p != reinterpret_cast<const unsigned char*>(cert.data()) + cert.size()) return false;
    X509_PUBKEY* key = X509_get_X509_PUBKEY(x.get());
    unsigned char* spki = nullptr;
    int size = key ? i2d_X509_PUBKEY(key, &spki) : -1;
    if (size <= 0) return false;
    bool same = std::string_view(reinterpret_cast<char*>(spki), size_t(size)) == p256_spki(point);
    OPENSSL_free(spki);
    EVP_PKEY* pkey = X509_get0_pubkey(x.get());
    return same && pkey && X509_verify(x.get(), pkey) == 1;
}
