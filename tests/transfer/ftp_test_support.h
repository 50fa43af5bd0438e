#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "hooked_loop.h"
#include "local_ftp_server.h"
#include "platform/virtual_event_loop.h"

namespace k9::ftptest {

inline constexpr char kUser[] = "K9-100234";
inline constexpr char kPassword[] = "q7-100234";

// Bytes that look like nothing in particular, with CR LF pairs and NULs among them.
inline std::string testBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xff);
    }
    for (std::size_t i = 40; i < count; i += 97) {
        bytes[i - 1] = '\r';
        bytes[i] = '\n';
    }
    return bytes;
}

using HookLoop = test::HookedLoop<VirtualEventLoop>;

// One local server per test suite, with a fresh scratch folder per test.
class FtpServerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server_.reset(new LocalFtpServer({FtpAccount{kUser, kPassword, "unit"}}));
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override { server().clearFaults(); }

    static LocalFtpServer& server() { return *server_; }
    std::string local(const std::string& name) const { return work_ + "/" + name; }

  private:
    static inline std::unique_ptr<LocalFtpServer> server_;
    QTemporaryDir scratch_;
    std::string work_ = scratch_.path().toStdString();
};

}  // namespace k9::ftptest
