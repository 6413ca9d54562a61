// trustroot: makes a test certificate authority trusted, or no longer
// trusted, by the programs of the Wine prefix it runs in, so that the
// portal exchange can be tested over TLS without touching the trust of the
// machine itself.
//
//   trustroot add CA.der       the certificate joins the machine's roots
//   trustroot remove CA.der    every copy of it leaves them again
//
// Exit code 0 when done, 1 when a step failed (named on standard error with
// its GetLastError), 2 for wrong arguments.

#include <windows.h>
// After windows.h, whose types it uses.
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

struct ContextFreer {
    void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, ContextFreer>;

int failed(const char* operation) {
    std::fprintf(stderr, "trustroot: %s failed, GetLastError=%lu\n", operation,
                 static_cast<unsigned long>(GetLastError()));
    return 1;
}

int add(const std::vector<BYTE>& der) {
    // The local machine's roots are what WinINet checks for every user.
    const Store store(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root"));
    if (!store) {
        return failed("CertOpenStore(Root)");
    }
    if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        return failed("CertAddEncodedCertificateToStore");
    }
    return 0;
}

int remove(const std::vector<BYTE>& der) {
    const Certificate wanted(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                          static_cast<DWORD>(der.size())));
    if (!wanted) {
        return failed("CertCreateCertificateContext");
    }
    // Wine's system store is a collection whose deletions do not reach the
    // registry; the registry store underneath is where the root is kept.
    const Store store(CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_A, 0, 0,
                                    CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root"));
    if (!store) {
        return failed("CertOpenStore(registry Root)");
    }
    for (;;) {
        const CERT_CONTEXT* found = CertFindCertificateInStore(
            store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted.get(), nullptr);
        if (found == nullptr) {
            return 0;
        }
        // Frees `found` whether or not it succeeds.
        if (!CertDeleteCertificateFromStore(found)) {
            return failed("CertDeleteCertificateFromStore");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: trustroot add|remove CA.der\n", stderr);
        return 2;
    }
    const std::string action = argv[1];
    std::ifstream file(argv[2], std::ios::binary);
    const std::vector<BYTE> der((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
    if (der.empty()) {
        std::fprintf(stderr, "trustroot: cannot read %s\n", argv[2]);
        return 1;
    }
    if (action == "add") {
        return add(der);
    }
    if (action == "remove") {
        return remove(der);
    }
    std::fputs("usage: trustroot add|remove CA.der\n", stderr);
    return 2;
}
