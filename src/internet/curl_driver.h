#pragma once

// Runs the layer's transfers through libcurl's multi interface: the callbacks that fill and
// drain the stream buffers, pausing and resuming them, and the limits on waiting.

#include <cstdint>

#include "internet/internet_handles.h"

namespace k9::curl_driver {

using Transfer = InternetLayer::Transfer;
using Connection = InternetLayer::Connection;
using Clock = Transfer::Clock;

void ensureCurl();

// Takes the first entry of a listing and skips the download of every entry.
long onChunkBegin(const void* info, void* user, int);

// What a drive waits for.
bool openedForRead(const Transfer& t);
bool openedForWrite(const Transfer& t);
bool hasInput(const Transfer& t);
bool drained(const Transfer& t);
bool never(const Transfer&);

// Lets a paused transfer move again.
void resume(Transfer& t);
bool failedOrStalled(const Transfer& t);

// Bytes move unchanged whatever the type; an ASCII transfer tells the server so right
// before the command, since libcurl's own text mode would rewrite line ends on this side.
bool setTransferType(Transfer& t, std::uint32_t flags);

}  // namespace k9::curl_driver
