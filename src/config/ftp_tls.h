#pragma once

namespace k9 {

// FTP over TLS (AUTH TLS). Auto asks every server for it and holds a server that has spoken it
// to it from then on; Require connects only with TLS on the control and data connections; Off
// is plain FTP.
enum class FtpTls { Auto, Require, Off };

}  // namespace k9
