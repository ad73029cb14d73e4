// Win32 side of the trust store: the "ROOT" system certificate store.
#include "trust_store.h"

#include <windows.h>
#include <wincrypt.h>

int system_trust_store(trust_store_fn fn, void *user)
{
    HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    if (!store)
        return -1;
    int calls = 0;
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
        if (cert->dwCertEncodingType & X509_ASN_ENCODING) {
            fn(cert->pbCertEncoded, cert->cbCertEncoded, user);
            calls++;
        }
    }
    CertCloseStore(store, 0);
    return calls;
}
