#pragma once

#include <string>

namespace k9 {

// Hands a web address to the desktop's browser; failures are not reported.
class Shell {
  public:
    virtual ~Shell() = default;
    virtual void openUrl(const std::string& url) = 0;
};

class DesktopShell final : public Shell {
  public:
    void openUrl(const std::string& url) override;
};

}  // namespace k9
