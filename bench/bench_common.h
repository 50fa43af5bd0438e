// What the benchmarks measure alike: CPU time and a location file to send.
#pragma once

#include <sys/resource.h>

#include <string>

namespace k9::bench {

// User and system CPU seconds of this process (RUSAGE_SELF) or of its waited-for children.
inline double cpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A location file of distinct lines, CR LF ended, as the server holds one.
inline std::string locationFile(int lines) {
    std::string file;
    for (int i = 0; i < lines; ++i) {
        file += "51." + std::to_string(100000 + i) + ",-0.123456,CAM,30,BENCH LINE\r\n";
    }
    return file;
}

}  // namespace k9::bench
