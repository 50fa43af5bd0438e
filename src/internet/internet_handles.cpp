#include "internet/internet_handles.h"

#include "internet/curl_driver.h"

namespace k9 {

InternetLayer::InternetLayer(EventLoop& loop, InternetSettings settings)
    : loop_(loop), settings_(settings) {
    curl_driver::ensureCurl();
}

InternetLayer::~InternetLayer() {
    // Transfers hold their connection, so each connection goes after its transfers.
    for (auto& [handle, object] : handles_) {
        object->closed = true;
    }
    handles_.clear();
    retired_.clear();
}

bool InternetLayer::fail(std::uint32_t code) {
    setInternetLastError(code);
    return false;
}

InternetHandle InternetLayer::addHandle(const std::shared_ptr<Object>& object) {
    while (nextHandle_ == 0 || handles_.count(nextHandle_) != 0) {
        ++nextHandle_;
    }
    object->handle = nextHandle_++;
    handles_[object->handle] = object;
    return object->handle;
}

void InternetLayer::retire(const std::shared_ptr<Object>& object) {
    object->closed = true;
    if (object->handle != 0) {
        handles_.erase(object->handle);
    }
    for (const auto& weak : object->children) {
        if (auto child = weak.lock(); child && !child->closed) {
            retire(child);
        }
    }
    object->children.clear();
    retired_.push_back(object);
}

}  // namespace k9
