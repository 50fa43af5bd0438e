#pragma once

// FTP over TLS on one transfer: the options that ask for it, what the login turned out to be,
// and why a login failed where TLS had a part in it.

#include <string>

#include "internet/internet_handles.h"

namespace k9::tls_session {

// Asks for TLS as the connection's useSsl says, verifying the server against the system's
// store and the settings' CA file, and resuming the login's TLS session on the data
// connections.
void prepare(InternetLayer::Transfer& t);

// Reads the encryption of the control connection into t.tls, once the server took AUTH TLS.
void capture(InternetLayer::Transfer& t);

// OpenSSL's verdict on the server's certificate (X509_V_OK when it passed or none came).
long verifyResult(const InternetLayer::Transfer& t);

// Why the login failed, in one line of plain words; empty when TLS had no part in it.
std::string failureCause(const InternetLayer::Transfer& t);

}  // namespace k9::tls_session
