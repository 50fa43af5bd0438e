#pragma once

#include <set>
#include <string>
#include <vector>

namespace k9 {

class SupportTrace;

// The FTP servers that have spoken TLS, one "host port" a line in a private file, so that a
// server met in clear later is refused instead of being sent the password. A memory it cannot
// read costs one line on standard error and is rebuilt from what could be read; what it may
// have held is never a reason for clear text.
class TlsMemory final {
  public:
    TlsMemory(std::string path, SupportTrace* trace);

    // True when the server spoke TLS before, or when the memory cannot tell: a file that
    // cannot be read, or damaged lines that name the host.
    bool holds(const std::string& host, long port);
    // Remembers the server from now on; a file that cannot be written costs one line.
    void remember(const std::string& host, long port);

  private:
    void load();
    void save();
    void tell(const std::string& text);

    std::string path_;
    SupportTrace* trace_;
    std::set<std::string> servers_;
    std::vector<std::string> damaged_;
    std::string unreadable_;  // why the file cannot be read; empty when it can
};

}  // namespace k9
