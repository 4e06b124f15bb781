// SPDX-License-Identifier: MIT
#include "support/test_certificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>

namespace testing_support {
namespace {

void AddExtension(X509* certificate, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  if (extension == nullptr) throw std::runtime_error("certificate extension");
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

void WritePem(const std::string& path, const std::function<int(FILE*)>& write) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr || write(file) != 1) throw std::runtime_error("cannot write " + path);
  std::fclose(file);
}

}  // namespace

TestCertificate MakeSelfSignedCertificate(const std::string& folder) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), X509_free);
  if (!key || !certificate) throw std::runtime_error("certificate");
  X509* c = certificate.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), 1);
  X509_gmtime_adj(X509_getm_notBefore(c), -3600);
  X509_gmtime_adj(X509_getm_notAfter(c), 86400);
  X509_set_pubkey(c, key.get());
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(c, name);
  AddExtension(c, NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(c, NID_key_usage, "critical,digitalSignature,keyCertSign");
  AddExtension(c, NID_subject_alt_name, "IP:127.0.0.1");
  if (X509_sign(c, key.get(), EVP_sha256()) == 0) throw std::runtime_error("certificate signature");
  TestCertificate files{folder + "server.crt", folder + "server.key"};
  WritePem(files.certificateFile, [&](FILE* f) { return PEM_write_X509(f, c); });
  WritePem(files.keyFile,
           [&](FILE* f) { return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
  return files;
}

}  // namespace testing_support
