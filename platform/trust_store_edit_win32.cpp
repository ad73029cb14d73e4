// Win32: adding and removing a trusted root in the current user's "ROOT" store.
#include "trust_store.h"

#include <windows.h>
#include <wincrypt.h>

int trust_store_change_root(const unsigned char *der, size_t length, bool add)
{
    if (add)
        return CertAddEncodedCertificateToSystemStoreW(L"ROOT", der, (DWORD)length) ? 0 : -1;
    HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    if (!store)
        return -1;
    PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der, (DWORD)length);
    int result = -1;
    if (wanted) {
        PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
        if (found && CertDeleteCertificateFromStore(found)) // frees found
            result = 0;
        CertFreeCertificateContext(wanted);
    }
    CertCloseStore(store, 0);
    return result;
}
